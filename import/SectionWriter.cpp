#include "import/SectionWriter.h"

#include <cstdint>
#include <functional>
#include <limits>

#include "import/ProductKey.h"

namespace {

// The number of a digit-only value, or false when it exceeds 32 bits.
bool ParseDword(std::string_view digits, uint32_t* number) {
  uint64_t n = 0;
  for (char c : digits) {
    n = n * 10 + static_cast<uint64_t>(c - '0');
    if (n > std::numeric_limits<uint32_t>::max()) return false;
  }
  *number = static_cast<uint32_t>(n);
  return true;
}

}  // namespace

bool IsAllDigits(std::string_view value) {
  if (value.empty()) return false;
  for (char c : value) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

void WriteDwordValue(Env& env, RegKey key, const std::string& name, uint32_t number) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                            static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
  env.SetValue(key, name.c_str(), kRegDword, bytes, sizeof bytes);
}

void WriteTypedValue(Env& env, RegKey key, const std::string& name, const std::string& value,
                     bool stringsOnly) {
  if (value.empty()) return;
  uint32_t number = 0;
  if (!stringsOnly && IsAllDigits(value) && ParseDword(value, &number)) {
    WriteDwordValue(env, key, name, number);
    return;
  }
  if (value.size() > std::numeric_limits<uint32_t>::max()) return;
  env.SetValue(key, name.c_str(), kRegSz, reinterpret_cast<const uint8_t*>(value.data()),
               static_cast<uint32_t>(value.size()));
}

bool WithSubkey(Env& env, const std::string& subkeyPath, const std::function<void(RegKey)>& write) {
  // The whole path in one call, which makes whatever part is missing: one
  // trip to the registry per key, not one for the product key and another
  // for the key below it.
  const std::string path = std::string(kProductKeyPath) + "\\" + subkeyPath;
  RegKey subkey = 0;
  if (env.CreateKey(kHKeyLocalMachine, path.c_str(), &subkey, nullptr) != 0) return false;
  write(subkey);
  env.CloseKey(subkey);
  return true;
}

bool WriteSectionToRegistry(Env& env, const SectionMap& section, const std::string& subkeyPath,
                            bool stringsOnly) {
  return WithSubkey(env, subkeyPath, [&](RegKey subkey) {
    for (const auto& [name, value] : section) {
      WriteTypedValue(env, subkey, name, value, stringsOnly);
    }
  });
}

bool ImportSection(Env& env, const CIni& profile, const std::string& section,
                   const std::string& subkeyPath, bool stringsOnly) {
  SectionMap map;
  profile.ReadSection(section, map);
  return WriteSectionToRegistry(env, map, subkeyPath, stringsOnly);
}
