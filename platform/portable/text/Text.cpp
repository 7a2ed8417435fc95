#include "platform/portable/text/Text.h"

#include <algorithm>
#include <iterator>

namespace {

// Code page 1252's characters 0x80 to 0x9F.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Code page 437's characters 0x80 to 0xFF; below 0x80 it is ASCII.
constexpr char16_t kOem437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

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

bool IsOemCodePage(uint32_t codePage) {
  return codePage == kCodePage437 || codePage == kCodePageUtf8;
}

bool Cp1252ToOem(std::string_view ansi, std::string* oem, uint32_t codePage) {
  oem->clear();
  if (codePage == kCodePageUtf8) {
    *oem = Cp1252ToUtf8(ansi);
    return true;
  }
  if (codePage != kCodePage437) return false;
  oem->reserve(ansi.size());
  for (unsigned char byte : ansi) {
    char16_t ch = Cp1252ToUnicode(byte);
    if (ch < 0x80) {
      oem->push_back(static_cast<char>(ch));
      continue;
    }
    const char16_t* found = std::find(std::begin(kOem437High), std::end(kOem437High), ch);
    if (found == std::end(kOem437High)) return false;
    oem->push_back(static_cast<char>(0x80 + (found - std::begin(kOem437High))));
  }
  return true;
}

std::string OemToCp1252(std::string_view oem, uint32_t codePage) {
  if (codePage == kCodePageUtf8) return Utf8ToCp1252(oem);
  std::string ansi;
  ansi.reserve(oem.size());
  for (unsigned char byte : oem) {
    if (byte < 0x80) {
      ansi.push_back(static_cast<char>(byte));
    } else {
      ansi.push_back(codePage == kCodePage437 ? Cp1252FromUnicode(kOem437High[byte - 0x80]) : '?');
    }
  }
  return ansi;
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

std::u16string Cp1252ToUtf16(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (char c : ansi) out.push_back(Cp1252ToUnicode(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf16ToCp1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t unit : text) out.push_back(IsSurrogate(unit) ? '?' : Cp1252FromUnicode(unit));
  return out;
}

bool Cp1252HoldsAll(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t unit) { return Cp1252Holds(unit); });
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t pos = 0; pos < utf8.size();) {
    char32_t ch = NextUtf8(utf8, &pos);
    if (ch >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((ch - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((ch - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(ch));
    }
  }
  return out;
}

std::string Utf16UnitsToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t ch = text[i];
    if (ch >= 0xD800 && ch < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ch = 0x10000 + ((ch - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (IsSurrogate(ch)) {
      ch = kReplacementCharacter;
    }
    AppendUtf8(ch, &out);
  }
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

namespace {

// Small letters and their capitals, in runs: every `step`th unit from
// `first` to `last` maps to itself plus `delta`. Sorted by `first`.
struct CaseRun {
  char16_t first;
  char16_t last;
  int step;
  int delta;
};

// clang-format off
constexpr CaseRun kUpperCaseRuns[] = {
    {0x0061, 0x007A, 1, -32}, {0x00E0, 0x00F6, 1, -32}, {0x00F8, 0x00FE, 1, -32},
    {0x00FF, 0x00FF, 1, 121}, {0x0101, 0x012F, 2, -1}, {0x0133, 0x0137, 2, -1},
    {0x013A, 0x0148, 2, -1}, {0x014B, 0x0177, 2, -1}, {0x017A, 0x017E, 2, -1},
    {0x0180, 0x0180, 1, 195}, {0x0183, 0x0185, 2, -1}, {0x0188, 0x0188, 1, -1},
    {0x018C, 0x018C, 1, -1}, {0x0192, 0x0192, 1, -1}, {0x0195, 0x0195, 1, 97},
    {0x0199, 0x0199, 1, -1}, {0x019A, 0x019A, 1, 163}, {0x019E, 0x019E, 1, 130},
    {0x01A1, 0x01A5, 2, -1}, {0x01A8, 0x01A8, 1, -1}, {0x01AD, 0x01AD, 1, -1},
    {0x01B0, 0x01B0, 1, -1}, {0x01B4, 0x01B6, 2, -1}, {0x01B9, 0x01B9, 1, -1},
    {0x01BD, 0x01BD, 1, -1}, {0x01BF, 0x01BF, 1, 56}, {0x01C6, 0x01C6, 1, -2},
    {0x01C9, 0x01C9, 1, -2}, {0x01CC, 0x01CC, 1, -2}, {0x01CE, 0x01DC, 2, -1},
    {0x01DD, 0x01DD, 1, -79}, {0x01DF, 0x01EF, 2, -1}, {0x01F3, 0x01F3, 1, -2},
    {0x01F5, 0x01F5, 1, -1}, {0x01F9, 0x021F, 2, -1}, {0x0223, 0x0233, 2, -1},
    {0x023C, 0x023C, 1, -1}, {0x023F, 0x0240, 1, 10815}, {0x0242, 0x0242, 1, -1},
    {0x0247, 0x024F, 2, -1}, {0x0250, 0x0250, 1, 10783}, {0x0251, 0x0251, 1, 10780},
    {0x0252, 0x0252, 1, 10782}, {0x0253, 0x0253, 1, -210}, {0x0254, 0x0254, 1, -206},
    {0x0256, 0x0257, 1, -205}, {0x0259, 0x0259, 1, -202}, {0x025B, 0x025B, 1, -203},
    {0x025C, 0x025C, 1, 42319}, {0x0260, 0x0260, 1, -205}, {0x0261, 0x0261, 1, 42315},
    {0x0263, 0x0263, 1, -207}, {0x0265, 0x0265, 1, 42280}, {0x0266, 0x0266, 1, 42308},
    {0x0268, 0x0268, 1, -209}, {0x0269, 0x0269, 1, -211}, {0x026A, 0x026A, 1, 42308},
    {0x026B, 0x026B, 1, 10743}, {0x026C, 0x026C, 1, 42305}, {0x026F, 0x026F, 1, -211},
    {0x0271, 0x0271, 1, 10749}, {0x0272, 0x0272, 1, -213}, {0x0275, 0x0275, 1, -214},
    {0x027D, 0x027D, 1, 10727}, {0x0280, 0x0280, 1, -218}, {0x0282, 0x0282, 1, 42307},
    {0x0283, 0x0283, 1, -218}, {0x0287, 0x0287, 1, 42282}, {0x0288, 0x0288, 1, -218},
    {0x0289, 0x0289, 1, -69}, {0x028A, 0x028B, 1, -217}, {0x028C, 0x028C, 1, -71},
    {0x0292, 0x0292, 1, -219}, {0x029D, 0x029D, 1, 42261}, {0x029E, 0x029E, 1, 42258},
    {0x0371, 0x0373, 2, -1}, {0x0377, 0x0377, 1, -1}, {0x037B, 0x037D, 1, 130},
    {0x03AC, 0x03AC, 1, -38}, {0x03AD, 0x03AF, 1, -37}, {0x03B1, 0x03C1, 1, -32},
    {0x03C3, 0x03CB, 1, -32}, {0x03CC, 0x03CC, 1, -64}, {0x03CD, 0x03CE, 1, -63},
    {0x03D7, 0x03D7, 1, -8}, {0x03D9, 0x03EF, 2, -1}, {0x03F2, 0x03F2, 1, 7},
    {0x03F3, 0x03F3, 1, -116}, {0x03F8, 0x03F8, 1, -1}, {0x03FB, 0x03FB, 1, -1},
    {0x0430, 0x044F, 1, -32}, {0x0450, 0x045F, 1, -80}, {0x0461, 0x0481, 2, -1},
    {0x048B, 0x04BF, 2, -1}, {0x04C2, 0x04CE, 2, -1}, {0x04CF, 0x04CF, 1, -15},
    {0x04D1, 0x052F, 2, -1}, {0x0561, 0x0586, 1, -48}, {0x1E01, 0x1E95, 2, -1},
    {0x1EA1, 0x1EFF, 2, -1}, {0x1F00, 0x1F07, 1, 8}, {0x1F10, 0x1F15, 1, 8},
    {0x1F20, 0x1F27, 1, 8}, {0x1F30, 0x1F37, 1, 8}, {0x1F40, 0x1F45, 1, 8}, {0x1F51, 0x1F57, 2, 8},
    {0x1F60, 0x1F67, 1, 8}, {0x1F70, 0x1F71, 1, 74}, {0x1F72, 0x1F75, 1, 86},
    {0x1F76, 0x1F77, 1, 100}, {0x1F78, 0x1F79, 1, 128}, {0x1F7A, 0x1F7B, 1, 112},
    {0x1F7C, 0x1F7D, 1, 126}, {0x1F80, 0x1F87, 1, 8}, {0x1F90, 0x1F97, 1, 8},
    {0x1FA0, 0x1FA7, 1, 8}, {0x1FB0, 0x1FB1, 1, 8}, {0x1FB3, 0x1FB3, 1, 9}, {0x1FC3, 0x1FC3, 1, 9},
    {0x1FD0, 0x1FD1, 1, 8}, {0x1FE0, 0x1FE1, 1, 8}, {0x1FE5, 0x1FE5, 1, 7}, {0x1FF3, 0x1FF3, 1, 9},
    {0x2C61, 0x2C61, 1, -1}, {0x2C65, 0x2C65, 1, -10795}, {0x2C66, 0x2C66, 1, -10792},
    {0x2C68, 0x2C6C, 2, -1}, {0x2C73, 0x2C73, 1, -1}, {0x2C76, 0x2C76, 1, -1},
    {0xA641, 0xA66D, 2, -1}, {0xA681, 0xA69B, 2, -1}, {0xA723, 0xA72F, 2, -1},
    {0xA733, 0xA76F, 2, -1}, {0xA77A, 0xA77C, 2, -1}, {0xA77F, 0xA787, 2, -1},
    {0xA78C, 0xA78C, 1, -1}, {0xA791, 0xA793, 2, -1}, {0xA794, 0xA794, 1, 48},
    {0xA797, 0xA7A9, 2, -1}, {0xA7B5, 0xA7C3, 2, -1}, {0xA7C8, 0xA7CA, 2, -1},
    {0xA7D1, 0xA7D1, 1, -1}, {0xA7D7, 0xA7D9, 2, -1}, {0xA7F6, 0xA7F6, 1, -1},
    {0xFF41, 0xFF5A, 1, -32},
};
// clang-format on

}  // namespace

char16_t UnicodeUpperCase(char16_t ch) {
  if (ch < 0x80) return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 0x20) : ch;
  const CaseRun* run =
      std::upper_bound(std::begin(kUpperCaseRuns), std::end(kUpperCaseRuns), ch,
                       [](char16_t unit, const CaseRun& r) { return unit < r.first; });
  if (run == std::begin(kUpperCaseRuns)) return ch;
  --run;
  if (ch > run->last || (ch - run->first) % run->step != 0) return ch;
  return static_cast<char16_t>(ch + run->delta);
}

std::u16string UnicodeNameKey(std::u16string_view name) {
  std::u16string key;
  key.reserve(name.size());
  for (char16_t unit : name) key.push_back(UnicodeUpperCase(unit));
  return key;
}

bool SameUnicodeName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UnicodeUpperCase(a[i]) != UnicodeUpperCase(b[i])) return false;
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
