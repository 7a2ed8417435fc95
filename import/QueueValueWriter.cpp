#include "import/QueueValueWriter.h"

#include "import/ProductKey.h"
#include "import/SectionWriter.h"

namespace {

constexpr const char* kMeasures[] = {"Top",   "Bottom",       "Left",
                                     "Right", "CharsPerInch", "LinesPerInch"};
constexpr const char* kByteStrings[] = {"InsertBytes", "AppendBytes", "PageSeperator", "ModeBytes"};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseByteString(const std::string& text, std::vector<uint8_t>* bytes) {
  bytes->clear();
  int high = -1;  // the first digit of a pair, while the second is awaited
  size_t digits = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (high >= 0) return false;  // a blank splits no pair
      continue;
    }
    int digit = HexDigit(c);
    if (digit < 0) return false;
    ++digits;
    if (high < 0) {
      high = digit;
    } else {
      bytes->push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  return digits >= 2;
}

bool WriteQueueValues(Env& env, SectionMap& values, const std::string& subkeyPath) {
  for (const char* name : kMeasures) {
    auto it = values.find(name);
    if (it != values.end() && it->second.find('.') == std::string::npos) it->second += ".0";
  }
  return WithSubkey(env, subkeyPath, [&](RegKey key) {
    for (const char* name : kByteStrings) {
      auto it = values.find(name);
      std::vector<uint8_t> bytes;
      if (it == values.end() || !ParseByteString(it->second, &bytes)) continue;
      env.SetValue(key, name, kRegBinary, bytes.data(), static_cast<uint32_t>(bytes.size()));
      values.erase(it);
    }
    for (const auto& [name, value] : values) WriteTypedValue(env, key, name, value, false);
  });
}
