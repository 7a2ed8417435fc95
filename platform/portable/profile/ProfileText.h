// ProfileText: the content of one private-profile (INI) file, parsed into
// sections and lines the way the Windows profile service reads it, and
// written back with its sections in normalised form.
//
// The file's bytes are kept as they are (UTF-16 files are held as UTF-8);
// sections and lines refer to them by offset, so a parse costs a few words per
// line. Names and values are blank-trimmed and end at a NUL byte. The text
// before the first header belongs to no section: no name reaches it, and a
// rewrite keeps it byte for byte.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ProfileNames.h"

enum class ProfileEncoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

// One text span of the held content.
struct ProfileSpan {
  uint32_t at = 0;
  uint32_t size = 0;
};

// One non-blank line of a section other than its header. A line without "="
// has only a name: the whole trimmed line.
struct ProfileLine {
  ProfileSpan name;
  ProfileSpan value;
  bool hasValue = false;
};

// A section: a "[name]" header and the lines up to the next one.
struct ProfileSection {
  ProfileSpan name;
  uint32_t firstLine = 0;
  uint32_t lineCount = 0;
};

// One change made by a write. Texts are in the content's own encoding.
struct ProfileEdit {
  enum Kind { kSetValue, kDeleteKey, kDeleteSection };
  Kind kind = kSetValue;
  // Each without its leading blanks. A value is set under the names with
  // their trailing blanks trimmed too (a new name is written with them);
  // deletes match the names as they are here.
  std::string section;
  std::string key;
  std::string value;
};

class ProfileText {
 public:
  // Any bytes are accepted; an empty string is an empty profile.
  static ProfileText Parse(std::string_view bytes);

  ProfileEncoding encoding() const { return encoding_; }
  bool empty() const { return text_.empty(); }
  const std::vector<ProfileSection>& sections() const { return sections_; }
  const std::vector<ProfileLine>& lines() const { return lines_; }
  // Everything before the first header's line (the whole text when there is
  // no header).
  ProfileSpan preamble() const { return preamble_; }
  std::string_view Text(ProfileSpan span) const {
    return std::string_view(text_).substr(span.at, span.size);
  }

  // The first section whose name matches, ignoring ASCII letter case; -1
  // when there is none. "" is the first header with an empty name. `name` is
  // trimmed and in the content's encoding. Many sections, or many lines in a
  // section, are looked up through an index made on first use, so that
  // reading every key of a section costs time in proportion to its keys.
  int FindSection(std::string_view name) const;
  // The index in lines() of the section's first line whose name matches; -1.
  int FindLine(int section, std::string_view key) const;

  // Texts between the A calls' code page (1252) and the content's encoding.
  std::string FromAnsi(std::string_view text) const;
  std::string ToAnsi(std::string_view text) const;

  // The file's new bytes after the edit: the text before the first header as
  // it is (followed by CR LF when it does not end with a line end), then the
  // sections normalised: trimmed names and values, no blank lines, CR LF line
  // ends. The encoding is kept. False (and `bytes` untouched) when the edit
  // changes nothing.
  bool Apply(const ProfileEdit& edit, std::string* bytes) const;

 private:
  void ParseLines();
  void FormatSection(const ProfileSection& section, const ProfileEdit& edit, int editLine,
                     bool appendKey, std::string* out) const;
  std::string Encode(std::string_view text) const;

  // First index of each name, ASCII letters lower-cased.
  using NameIndex = std::unordered_map<std::string, uint32_t>;

  ProfileEncoding encoding_ = ProfileEncoding::kAnsi;
  std::string text_;
  ProfileSpan preamble_;
  std::vector<ProfileSection> sections_;
  std::vector<ProfileLine> lines_;
  mutable std::unique_ptr<NameIndex> sectionIndex_;
  mutable std::vector<std::unique_ptr<NameIndex>> lineIndexes_;  // by section
};
