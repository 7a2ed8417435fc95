#include "platform/portable/registry/RegistryCodePage.h"

namespace {

// Bytes 80..9F of code page 1252.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Upper case of the characters code page 1252 can hold.
char16_t Upcase(char16_t ch) {
  if (ch >= u'a' && ch <= u'z') return static_cast<char16_t>(ch - 0x20);
  if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return static_cast<char16_t>(ch - 0x20);
  switch (ch) {
    case 0xB5:
      return 0x039C;
    case 0xFF:
      return 0x0178;
    case 0x0153:
      return 0x0152;
    case 0x0161:
      return 0x0160;
    case 0x017E:
      return 0x017D;
    case 0x0192:
      return 0x0191;
    default:
      return ch;
  }
}

}  // namespace

char16_t Cp1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

char Cp1252FromUnicode(char32_t ch) {
  if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return static_cast<char>(ch);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == ch) return static_cast<char>(0x80 + i);
  }
  return '?';
}

std::u16string RegistryNameKey(std::string_view name) {
  std::u16string key;
  key.reserve(name.size());
  for (char c : name) key.push_back(Upcase(Cp1252ToUnicode(static_cast<unsigned char>(c))));
  return key;
}
