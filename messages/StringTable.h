// The program's string table: the id constants of every entry, and the table
// compiled into the program for platforms without resources. The entries
// live in messages/StringTable.inc.
#pragma once

#include <cstdint>
#include <string>

#define CHECKLUM_STRING(name, id, text) constexpr uint32_t name = id;
#include "messages/StringTable.inc"
#undef CHECKLUM_STRING

// Sets `text` to the entry numbered `id`; false (text unchanged) when the
// table has no such entry.
bool FindTableString(uint32_t id, std::string* text);
