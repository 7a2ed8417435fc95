#include "platform/portable/profile/ProfileText.h"

#include <algorithm>

namespace {

// Code page 1252's characters 0x80 to 0x9F; the five unassigned bytes stand
// for the control characters of the same number, as Windows maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one UTF-8 character at `*pos`; a malformed sequence gives U+FFFD
// and consumes one byte.
char32_t NextUtf8(std::string_view text, size_t* pos) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(*pos);
  if (lead < 0x80) {
    ++*pos;
    return lead;
  }
  size_t extra = lead >= 0xF0 && lead < 0xF5   ? 3
                 : lead >= 0xE0 && lead < 0xF0 ? 2
                 : lead >= 0xC2 && lead < 0xE0 ? 1
                                               : 0;
  if (extra == 0 || text.size() - *pos <= extra) {
    ++*pos;
    return 0xFFFD;
  }
  char32_t c = lead & (0x3F >> extra);
  for (size_t i = 1; i <= extra; ++i) {
    unsigned char next = byte(*pos + i);
    if ((next & 0xC0) != 0x80) {
      ++*pos;
      return 0xFFFD;
    }
    c = (c << 6) | (next & 0x3F);
  }
  constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
    ++*pos;
    return 0xFFFD;
  }
  *pos += extra + 1;
  return c;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  size_t count = bytes.size() / 2;
  auto unit = [&](size_t i) -> char16_t {
    auto hi = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
    auto lo = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
    return static_cast<char16_t>(hi << 8 | lo);
  };
  for (size_t i = 0; i < count; ++i) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(c, &out);
  }
  return out;
}

void AppendUtf16(char32_t c, bool bigEndian, std::string* out) {
  auto put = [&](char32_t u) {
    char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out->push_back(bigEndian ? hi : lo);
    out->push_back(bigEndian ? lo : hi);
  };
  if (c >= 0x10000) {
    put(0xD800 + ((c - 0x10000) >> 10));
    put(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    put(c);
  }
}

// Cuts a span at its first NUL byte and trims its blanks.
ProfileSpan CutAndTrim(std::string_view text, size_t from, size_t to) {
  std::string_view part = text.substr(from, to - from);
  part = part.substr(0, part.find('\0'));
  size_t begin = 0, end = part.size();
  while (begin < end && IsProfileBlank(part[begin])) ++begin;
  while (end > begin && IsProfileBlank(part[end - 1])) --end;
  return {static_cast<uint32_t>(from + begin), static_cast<uint32_t>(end - begin)};
}

}  // namespace

bool IsProfileBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

std::string_view TrimProfileBlanks(std::string_view text) {
  while (!text.empty() && IsProfileBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsProfileBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameProfileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

ProfileText ProfileText::Parse(std::string_view bytes) {
  ProfileText profile;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    profile.encoding_ = ProfileEncoding::kUtf8;
    profile.text_ = bytes.substr(3);
  } else if (bytes.substr(0, 2) == "\xFF\xFE") {
    profile.encoding_ = ProfileEncoding::kUtf16Le;
    profile.text_ = Utf16ToUtf8(bytes.substr(2), false);
  } else if (bytes.substr(0, 2) == "\xFE\xFF") {
    profile.encoding_ = ProfileEncoding::kUtf16Be;
    profile.text_ = Utf16ToUtf8(bytes.substr(2), true);
  } else {
    profile.text_ = bytes;
  }
  profile.ParseLines();
  return profile;
}

void ProfileText::ParseLines() {
  std::string_view text = text_;
  sections_.push_back(ProfileSection{});
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    size_t start = pos;
    while (start < end && IsProfileBlank(text[start])) ++start;
    pos = end + 1;
    if (start == end) continue;
    std::string_view rest = text.substr(start, end - start);
    if (rest.front() == '[') {
      size_t close = rest.rfind(']');
      if (close != std::string_view::npos && close > 0) {
        close += start;
        ProfileSection section;
        section.name = CutAndTrim(text, start + 1, close);
        section.header = true;
        section.firstLine = static_cast<uint32_t>(lines_.size());
        sections_.push_back(section);
        continue;
      }
    }
    ProfileLine line;
    size_t equals = rest.find('=');
    if (equals != std::string_view::npos) {
      line.name = CutAndTrim(text, start, start + equals);
      line.value = CutAndTrim(text, start + equals + 1, end);
      line.hasValue = true;
    } else {
      line.name = CutAndTrim(text, start, end);
    }
    // A line with an empty name right after another one is dropped: the
    // service never shows it and a rewrite leaves it out.
    const ProfileSection& current = sections_.back();
    if (line.hasValue && line.name.size == 0 && current.lineCount > 0 && lines_.back().hasValue &&
        lines_.back().name.size == 0) {
      continue;
    }
    lines_.push_back(line);
    ++sections_.back().lineCount;
  }
}

int ProfileText::FindSection(std::string_view name) const {
  for (size_t i = 0; i < sections_.size(); ++i) {
    if (SameProfileName(Text(sections_[i].name), name)) return static_cast<int>(i);
  }
  return -1;
}

int ProfileText::FindLine(int section, std::string_view key) const {
  const ProfileSection& s = sections_[section];
  for (uint32_t i = s.firstLine; i < s.firstLine + s.lineCount; ++i) {
    if (SameProfileName(Text(lines_[i].name), key)) return static_cast<int>(i);
  }
  return -1;
}

std::string ProfileText::FromAnsi(std::string_view text) const {
  if (encoding_ == ProfileEncoding::kAnsi) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    AppendUtf8(byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte, &out);
  }
  return out;
}

std::string ProfileText::ToAnsi(std::string_view text) const {
  if (encoding_ == ProfileEncoding::kAnsi) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t c = NextUtf8(text, &pos);
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    const char16_t* found = std::find(std::begin(kCp1252High), std::end(kCp1252High), c);
    out.push_back(found == std::end(kCp1252High)
                      ? '?'
                      : static_cast<char>(0x80 + (found - std::begin(kCp1252High))));
  }
  return out;
}

bool ProfileText::Apply(const ProfileEdit& edit, std::string* bytes) const {
  // A value is set under the names trimmed; deletes take them as spelled.
  bool trim = edit.kind == ProfileEdit::kSetValue;
  int section = FindSection(trim ? TrimProfileBlanks(edit.section) : edit.section);
  int line = section < 0 ? -1 : FindLine(section, trim ? TrimProfileBlanks(edit.key) : edit.key);
  switch (edit.kind) {
    case ProfileEdit::kDeleteSection:
      if (section < 0) return false;
      break;
    case ProfileEdit::kDeleteKey:
      if (line < 0) return false;
      break;
    case ProfileEdit::kSetValue:
      if (line >= 0 && lines_[line].hasValue && Text(lines_[line].value) == edit.value) {
        return false;
      }
      break;
  }
  std::string out;
  out.reserve(text_.size() + edit.section.size() + edit.key.size() + edit.value.size() + 16);
  for (size_t i = 0; i < sections_.size(); ++i) {
    bool edited = static_cast<int>(i) == section;
    if (edited && edit.kind == ProfileEdit::kDeleteSection) continue;
    FormatSection(sections_[i], edit, edited ? line : -1,
                  edited && line < 0 && edit.kind == ProfileEdit::kSetValue, &out);
  }
  if (section < 0) {
    out += '[' + edit.section + "]\r\n" + edit.key + '=' + edit.value + "\r\n";
  }
  *bytes = Encode(out);
  return true;
}

void ProfileText::FormatSection(const ProfileSection& section, const ProfileEdit& edit,
                                int editLine, bool appendKey, std::string* out) const {
  if (section.header) {
    *out += '[';
    *out += Text(section.name);
    *out += "]\r\n";
  }
  for (uint32_t i = section.firstLine; i < section.firstLine + section.lineCount; ++i) {
    const ProfileLine& line = lines_[i];
    bool edited = static_cast<int>(i) == editLine;
    if (edited && edit.kind == ProfileEdit::kDeleteKey) continue;
    *out += Text(line.name);
    if (edited) {
      *out += '=';
      *out += edit.value;
    } else if (line.hasValue) {
      *out += '=';
      *out += Text(line.value);
    }
    *out += "\r\n";
  }
  if (appendKey) *out += edit.key + '=' + edit.value + "\r\n";
}

std::string ProfileText::Encode(std::string_view text) const {
  switch (encoding_) {
    case ProfileEncoding::kAnsi:
      // Dropping the blank lines may bring bytes that look like a byte-order
      // mark to the front, and the file would read back as another encoding:
      // one blank line in front keeps it ANSI.
      if (text.starts_with("\xEF\xBB\xBF") || text.starts_with("\xFF\xFE") ||
          text.starts_with("\xFE\xFF")) {
        return "\r\n" + std::string(text);
      }
      return std::string(text);
    case ProfileEncoding::kUtf8:
      return "\xEF\xBB\xBF" + std::string(text);
    case ProfileEncoding::kUtf16Le:
    case ProfileEncoding::kUtf16Be:
      break;
  }
  bool bigEndian = encoding_ == ProfileEncoding::kUtf16Be;
  std::string out;
  AppendUtf16(0xFEFF, bigEndian, &out);
  size_t pos = 0;
  while (pos < text.size()) AppendUtf16(NextUtf8(text, &pos), bigEndian, &out);
  return out;
}
