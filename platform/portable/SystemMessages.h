// The system's English texts for the error codes the portable backend sets,
// worded as the system that the Linux build stands in for words them, each
// ending with "\r\n".
#pragma once

#include <cstdint>
#include <string>

// Fills `text` and returns 0, or returns the error FormatMessage would set:
// 317 for a code without a text, 87 for a text that holds an insert.
uint32_t FindSystemMessage(uint32_t code, std::string* text);
