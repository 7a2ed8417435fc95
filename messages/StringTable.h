// The string table compiled into the program, for platforms without
// resources. The texts live in messages/StringTable.inc.
#pragma once

#include <cstdint>
#include <string>

// Sets `text` to the entry numbered `id`; false (text unchanged) when the
// table has no such entry.
bool FindTableString(uint32_t id, std::string* text);
