#include "platform/portable/text/Text.h"

#include <algorithm>
#include <iterator>

namespace {

// Code page 1252's characters 0x80 to 0x9F.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsSurrogate(char32_t ch) {
  return ch >= 0xD800 && ch <= 0xDFFF;
}

}  // namespace

char16_t Cp1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kCp1252High[byte - 0x80];
  return byte;
}

bool Cp1252Holds(char32_t ch) {
  if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return true;
  return std::find(std::begin(kCp1252High), std::end(kCp1252High), ch) != std::end(kCp1252High);
}

char Cp1252FromUnicode(char32_t ch) {
  if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return static_cast<char>(ch);
  const char16_t* found = std::find(std::begin(kCp1252High), std::end(kCp1252High), ch);
  if (found == std::end(kCp1252High)) return '?';
  return static_cast<char>(0x80 + (found - std::begin(kCp1252High)));
}

void AppendUtf8(char32_t ch, std::string* out) {
  if (ch < 0x80) {
    out->push_back(static_cast<char>(ch));
  } else if (ch < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (ch >> 6)));
    out->push_back(static_cast<char>(0x80 | (ch & 0x3F)));
  } else if (ch < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (ch >> 12)));
    out->push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (ch & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (ch >> 18)));
    out->push_back(static_cast<char>(0x80 | ((ch >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (ch & 0x3F)));
  }
}

char32_t NextUtf8(std::string_view text, size_t* pos, bool* malformed) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  auto bad = [&]() {
    ++*pos;
    if (malformed) *malformed = true;
    return kReplacementCharacter;
  };
  unsigned char lead = byte(*pos);
  if (lead < 0x80) {
    ++*pos;
    return lead;
  }
  size_t extra = lead >= 0xF0 && lead < 0xF5   ? 3
                 : lead >= 0xE0 && lead < 0xF0 ? 2
                 : lead >= 0xC2 && lead < 0xE0 ? 1
                                               : 0;
  if (extra == 0 || text.size() - *pos <= extra) return bad();
  char32_t ch = lead & (0x3F >> extra);
  for (size_t i = 1; i <= extra; ++i) {
    unsigned char next = byte(*pos + i);
    if ((next & 0xC0) != 0x80) return bad();
    ch = (ch << 6) | (next & 0x3F);
  }
  constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (ch < kSmallest[extra] || ch > 0x10FFFF || IsSurrogate(ch)) return bad();
  *pos += extra + 1;
  return ch;
}

size_t FirstMalformedUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    size_t at = pos;
    bool malformed = false;
    NextUtf8(text, &pos, &malformed);
    if (malformed) return at;
  }
  return std::string_view::npos;
}

void AppendUtf16(char32_t ch, bool bigEndian, std::string* out) {
  auto put = [&](char32_t unit) {
    char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
    out->push_back(bigEndian ? hi : lo);
    out->push_back(bigEndian ? lo : hi);
  };
  if (ch >= 0x10000) {
    put(0xD800 + ((ch - 0x10000) >> 10));
    put(0xDC00 + ((ch - 0x10000) & 0x3FF));
  } else {
    put(ch);
  }
}

char32_t NextUtf16(std::string_view bytes, size_t* pos, bool bigEndian) {
  auto unit = [&](size_t at) -> char32_t {
    auto first = static_cast<unsigned char>(bytes[at]);
    auto second = static_cast<unsigned char>(bytes[at + 1]);
    return bigEndian ? (first << 8 | second) : (second << 8 | first);
  };
  char32_t ch = unit(*pos);
  *pos += 2;
  if (ch >= 0xD800 && ch < 0xDC00 && *pos + 1 < bytes.size()) {
    char32_t low = unit(*pos);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      *pos += 2;
      return 0x10000 + ((ch - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return IsSurrogate(ch) ? kReplacementCharacter : ch;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t pos = 0; pos + 1 < bytes.size();) AppendUtf8(NextUtf16(bytes, &pos, bigEndian), &out);
  return out;
}

std::string Cp1252ToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (char c : ansi) AppendUtf8(Cp1252ToUnicode(static_cast<unsigned char>(c)), &out);
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t pos = 0; pos < utf8.size();) out.push_back(Cp1252FromUnicode(NextUtf8(utf8, &pos)));
  return out;
}

char16_t UpperCase(char16_t ch) {
  if (ch >= u'a' && ch <= u'z') return static_cast<char16_t>(ch - 0x20);
  if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return static_cast<char16_t>(ch - 0x20);
  switch (ch) {
    case 0x00FF:  // y with diaeresis
      return 0x0178;
    case 0x0153:  // oe
      return 0x0152;
    case 0x0161:  // s with caron
      return 0x0160;
    case 0x017E:  // z with caron
      return 0x017D;
    case 0x0192:  // f with hook
      return 0x0191;
    default:
      return ch;
  }
}

std::u16string NameKey(std::string_view ansiName) {
  std::u16string key;
  key.reserve(ansiName.size());
  for (char c : ansiName) key.push_back(UpperCase(Cp1252ToUnicode(static_cast<unsigned char>(c))));
  return key;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperCase(Cp1252ToUnicode(static_cast<unsigned char>(a[i]))) !=
        UpperCase(Cp1252ToUnicode(static_cast<unsigned char>(b[i])))) {
      return false;
    }
  }
  return true;
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsAbsolutePath(std::string_view path) {
  return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}
