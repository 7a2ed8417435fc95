// The string table's ids, the system error text and message formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Env.h"

// String table ids (the texts live in messages/StringTable.inc).
constexpr uint32_t kMsgUnknownWin32Error = 6;      // "Unknown Win32 error: %lu"
constexpr uint32_t kMsgImportingFile = 9;          // "Importing file"
constexpr uint32_t kMsgQueueDirectoryMissing = 273;
constexpr uint32_t kMsgQueueConfigMissing = 274;
constexpr uint32_t kMsgErrorWritingProfile = 290;  // "Error writing to profile %s:\n%s"

// Replaces `target` with the first line of the system's text for `code`
// (0 = env.LastError()) and returns it.
const std::string& GetSystemErrorText(Env& env, std::string& target, uint32_t code);
// Formats string-table template `id` (every "%m" standing for the last
// error's text) with the arguments and appends the result to `target`.
// Returns the number of characters appended.
int AppendTableMessage(Env& env, std::string& target, uint32_t id, ...);
// The same with a template given as text.
int AppendMessage(Env& env, std::string& target, const char* format, ...);
// Replaces every occurrence of `search` (not empty); returns the count.
int ReplaceAll(std::string& text, std::string_view search, std::string_view replacement);
void ReplaceChar(std::string& text, char oldChar, char newChar);
void ReplaceAnyChar(std::string& text, std::string_view set, char newChar);
