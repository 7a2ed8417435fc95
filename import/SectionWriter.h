// The section-to-registry writer: the entries of an INI section become named
// values of one subkey of the product registry key, each stored by the typed
// value rule.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/Env.h"
#include "profile/Ini.h"

// True when `value` is non-empty and made only of the ASCII digits 0 to 9.
bool IsAllDigits(std::string_view value);

// Writes `number` as a REG_DWORD (4 bytes, little-endian).
void WriteDwordValue(Env& env, RegKey key, const std::string& name, uint32_t number);

// The typed value rule. An empty value writes nothing (an existing value of
// that name stays as it is). Unless `stringsOnly` is set, a digit-only value
// from 0 to 4294967295 becomes a REG_DWORD of that number (leading zeros
// dropped; 2147483648 and up are the unsigned reading of the 32 bits). Every
// other value becomes a REG_SZ of its characters, without a terminating NUL,
// whatever its length. The result of the write is not examined.
void WriteTypedValue(Env& env, RegKey key, const std::string& name, const std::string& value,
                     bool stringsOnly);

// Opens (creating when missing) the product registry key and `subkeyPath`
// below it, any number of levels, and hands the subkey to `write`; both keys
// are closed afterwards. False, without a call, when either key cannot be
// opened or created.
bool WithSubkey(Env& env, const std::string& subkeyPath, const std::function<void(RegKey)>& write);

// Creates `subkeyPath` as above (even for an empty section) and writes every
// entry of `section` by the typed value rule. False when the key cannot be
// opened or created: nothing is written then.
bool WriteSectionToRegistry(Env& env, const SectionMap& section, const std::string& subkeyPath,
                            bool stringsOnly);

// Reads the whole `section` of `profile` and writes it as above; a missing or
// empty section still leaves the subkey behind.
bool ImportSection(Env& env, const CIni& profile, const std::string& section,
                   const std::string& subkeyPath, bool stringsOnly);
