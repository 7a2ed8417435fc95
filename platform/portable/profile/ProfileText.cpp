#include "platform/portable/profile/ProfileText.h"

#include <algorithm>

#include "platform/portable/text/Text.h"

namespace {

// Up to this many sections, or lines of a section, a lookup reads them in
// turn; beyond it, it goes through an index.
constexpr size_t kScanLimit = 16;

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
  preamble_ = {0, static_cast<uint32_t>(text.size())};
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    size_t lineStart = pos;
    size_t start = pos;
    while (start < end && IsProfileBlank(text[start])) ++start;
    pos = end + 1;
    if (start == end) continue;
    std::string_view rest = text.substr(start, end - start);
    if (rest.front() == '[') {
      size_t close = rest.rfind(']');
      if (close != std::string_view::npos && close > 0) {
        close += start;
        if (sections_.empty()) preamble_.size = static_cast<uint32_t>(lineStart);
        ProfileSection section;
        section.name = CutAndTrim(text, start + 1, close);
        section.firstLine = static_cast<uint32_t>(lines_.size());
        sections_.push_back(section);
        continue;
      }
    }
    if (sections_.empty()) continue;  // before the first header: no section's line
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
  if (sections_.size() <= kScanLimit) {
    for (size_t i = 0; i < sections_.size(); ++i) {
      if (SameProfileName(Text(sections_[i].name), name)) return static_cast<int>(i);
    }
    return -1;
  }
  if (!sectionIndex_) {
    sectionIndex_ = std::make_unique<NameIndex>();
    for (uint32_t i = 0; i < sections_.size(); ++i) {
      sectionIndex_->try_emplace(ProfileNameKey(Text(sections_[i].name)), i);
    }
  }
  auto it = sectionIndex_->find(ProfileNameKey(name));
  return it == sectionIndex_->end() ? -1 : static_cast<int>(it->second);
}

int ProfileText::FindLine(int section, std::string_view key) const {
  const ProfileSection& s = sections_[section];
  if (s.lineCount <= kScanLimit) {
    for (uint32_t i = s.firstLine; i < s.firstLine + s.lineCount; ++i) {
      if (SameProfileName(Text(lines_[i].name), key)) return static_cast<int>(i);
    }
    return -1;
  }
  if (lineIndexes_.empty()) lineIndexes_.resize(sections_.size());
  std::unique_ptr<NameIndex>& index = lineIndexes_[section];
  if (!index) {
    index = std::make_unique<NameIndex>();
    for (uint32_t i = s.firstLine; i < s.firstLine + s.lineCount; ++i) {
      index->try_emplace(ProfileNameKey(Text(lines_[i].name)), i);
    }
  }
  auto it = index->find(ProfileNameKey(key));
  return it == index->end() ? -1 : static_cast<int>(it->second);
}

std::string ProfileText::FromAnsi(std::string_view text) const {
  if (encoding_ == ProfileEncoding::kAnsi) return std::string(text);
  return Cp1252ToUtf8(text);
}

std::string ProfileText::ToAnsi(std::string_view text) const {
  if (encoding_ == ProfileEncoding::kAnsi) return std::string(text);
  return Utf8ToCp1252(text);
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
  std::string_view preamble = Text(preamble_);
  out += preamble;
  if (!preamble.empty() && preamble.back() != '\r' && preamble.back() != '\n') out += "\r\n";
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
  *out += '[';
  *out += Text(section.name);
  *out += "]\r\n";
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
      // A file that came to start with bytes that look like a byte-order
      // mark would read back as another encoding: one blank line in front
      // keeps it ANSI.
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
