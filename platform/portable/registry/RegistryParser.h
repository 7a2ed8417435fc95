// The reader of registry-file text, shared by ParseRegistryFile (which builds
// the whole tree), RegistryFileText (which checks a whole file, indexes its
// keys and reads a key's values once they are needed) and the writer (which
// carries a file's text over into another encoding).
//
// Text is read in the units the file came in: bytes for ANSI and UTF-8
// files, UTF-16 code units for UTF-16 files, so that a file is kept in
// memory once, as it was read. Every character with a meaning in a registry
// file is ASCII, and UTF-8 never uses an ASCII byte inside a longer
// sequence, so lines, quotes, escapes and hex digits are found the same way
// in each; names and strings become UTF-16 where they are kept. Lengths
// and line numbers are those of the UTF-16 text the file stands for.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Env.h"
#include "platform/portable/registry/RegistryTree.h"
#include "platform/portable/text/Text.h"

// How a registry file's text is kept.
enum class TextEncoding : uint8_t {
  kAnsi,   // code page 1252 bytes
  kUtf8,   // UTF-8 bytes (a byte order mark is not part of the text)
  kUtf16,  // UTF-16 code units (the byte order mark is not part of the text)
};

// The text of a registry file as read. Offsets into it count units: bytes,
// or UTF-16 code units for kUtf16.
struct RegistrySource {
  TextEncoding encoding = TextEncoding::kAnsi;
  std::string bytes;     // kAnsi and kUtf8: the file's bytes, from `start` on
  size_t start = 0;      // after a UTF-8 byte order mark
  std::u16string units;  // kUtf16: the file's code units after its byte order mark

  std::string_view Bytes() const { return std::string_view(bytes).substr(start); }
  std::u16string_view Units() const { return units; }
  size_t Size() const {
    return encoding == TextEncoding::kUtf16 ? units.size() : bytes.size() - start;
  }
  // UTF-16 text and UTF-8 text are Unicode; ANSI text is not.
  bool Unicode() const { return encoding != TextEncoding::kAnsi; }

  // Takes a whole file's bytes, in any form; false, with the line and the
  // reason, for bytes that cannot be read as text.
  bool TakeBytes(std::string fileBytes, std::string* error);
  // Takes the code units of a UTF-16LE file read after its byte order mark;
  // `oddByte` tells that one more byte followed them.
  bool TakeUnits(std::u16string fileUnits, bool oddByte, std::string* error);
};

std::string RegistryLineError(int line, const std::string& reason);

// Appends text in the source's units to UTF-16 `out`.
void AppendSourceText(std::string_view text, TextEncoding encoding, std::u16string* out);
inline void AppendSourceText(std::u16string_view text, TextEncoding, std::u16string* out) {
  out->append(text);
}

namespace registry_text {

// The lines of a text, without their line ends.
template <typename CharT>
class LineReader {
 public:
  using View = std::basic_string_view<CharT>;
  explicit LineReader(View text) : text_(text) {}
  // The next line without its line end; false at the end of the text.
  bool Next(View* line) {
    if (pos_ > text_.size() || (pos_ == text_.size() && number_ > 0)) return false;
    size_t end = text_.find(CharT('\n'), pos_);
    if (end == View::npos) end = text_.size();
    *line = text_.substr(pos_, end - pos_);
    if (!line->empty() && line->back() == CharT('\r')) line->remove_suffix(1);
    start_ = pos_;
    pos_ = end + 1;
    ++number_;
    return true;
  }
  int Number() const { return number_; }
  // Where the last line read starts, and where the text after it starts.
  size_t Start() const { return start_; }
  size_t Position() const { return std::min(pos_, text_.size()); }

 private:
  View text_;
  size_t pos_ = 0;
  size_t start_ = 0;
  int number_ = 0;
};

template <typename CharT>
bool IsBlank(CharT c) {
  return c == CharT(' ') || c == CharT('\t');
}

template <typename CharT>
std::basic_string_view<CharT> TrimLeft(std::basic_string_view<CharT> s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

// True when only blanks, or a comment, remain.
template <typename CharT>
bool OnlyCommentLeft(std::basic_string_view<CharT> rest) {
  rest = TrimLeft(rest);
  return rest.empty() || rest.front() == CharT(';');
}

template <typename CharT>
int HexDigit(CharT c) {
  if (c >= CharT('0') && c <= CharT('9')) return static_cast<int>(c - CharT('0'));
  if (c >= CharT('a') && c <= CharT('f')) return static_cast<int>(c - CharT('a')) + 10;
  if (c >= CharT('A') && c <= CharT('F')) return static_cast<int>(c - CharT('A')) + 10;
  return -1;
}

// Reads 1 to `maxDigits` hex digits from the front of `s`.
template <typename CharT>
bool TakeHex(std::basic_string_view<CharT>* s, size_t maxDigits, uint32_t* number) {
  size_t n = 0;
  *number = 0;
  while (n < s->size() && HexDigit((*s)[n]) >= 0) {
    if (++n > maxDigits) return false;
    *number = *number << 4 | static_cast<uint32_t>(HexDigit((*s)[n - 1]));
  }
  s->remove_prefix(n);
  return n > 0;
}

// Reads a quoted string whose opening quote has been taken, undoing the
// escapes \\ \" \r \n; any other backslash stands for itself. `out`, when
// given, receives the text.
template <typename CharT>
bool TakeQuoted(std::basic_string_view<CharT>* s, std::basic_string<CharT>* out) {
  using View = std::basic_string_view<CharT>;
  if (out) out->clear();
  const View text = *s;
  // Runs of plain characters up to the next backslash or quote; each
  // search goes on from where the last one ended, so the whole is linear.
  size_t quote = text.find(CharT('"'));
  for (size_t i = 0;;) {
    if (quote != View::npos && quote < i) quote = text.find(CharT('"'), i);
    size_t backslash = text.find(CharT('\\'), i);
    size_t stop = std::min(quote, backslash);
    if (out) out->append(text.substr(i, stop - i));
    if (stop == View::npos) return false;
    if (stop == quote) {
      s->remove_prefix(quote + 1);
      return true;
    }
    CharT next = backslash + 1 < text.size() ? text[backslash + 1] : CharT(0);
    if (next == CharT('\\') || next == CharT('"') || next == CharT('r') || next == CharT('n')) {
      if (out)
        out->push_back(next == CharT('r') ? CharT('\r') : next == CharT('n') ? CharT('\n') : next);
      i = backslash + 2;
    } else {
      if (out) out->push_back(CharT('\\'));  // any other backslash stands for itself
      i = backslash + 1;
    }
  }
}

// True when `text` starts with ASCII `prefix`, letters in either case. (No
// character beyond ASCII has an ASCII letter as its upper-case form, so this
// is the registry's own comparison for such a prefix.)
template <typename CharT>
bool StartsWithAscii(std::basic_string_view<CharT> text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    auto c = static_cast<uint32_t>(static_cast<std::make_unsigned_t<CharT>>(text[i]));
    auto p = static_cast<uint32_t>(static_cast<unsigned char>(prefix[i]));
    if (c >= 0x80) return false;
    if (c >= 'a' && c <= 'z') c -= 0x20;
    if (p >= 'a' && p <= 'z') p -= 0x20;
    if (c != p) return false;
  }
  return true;
}

template <typename CharT>
bool EqualsAscii(std::basic_string_view<CharT> text, std::string_view ascii) {
  return text.size() == ascii.size() &&
         std::equal(ascii.begin(), ascii.end(), text.begin(),
                    [](char a, CharT c) { return CharT(static_cast<unsigned char>(a)) == c; });
}

template <typename CharT>
bool HoldsLineBreak(std::basic_string_view<CharT> name) {
  for (CharT c : name) {
    if (c == CharT('\r') || c == CharT('\n')) return true;
  }
  return false;
}

// The number of UTF-16 code units that text in the source's units stands for.
inline size_t Utf16Length(std::string_view text, TextEncoding encoding) {
  if (encoding != TextEncoding::kUtf8) return text.size();
  size_t units = 0;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    units += (byte & 0xC0) != 0x80;  // a character starts here
    units += byte >= 0xF0;           // beyond U+FFFF: a surrogate pair
  }
  return units;
}
inline size_t Utf16Length(std::u16string_view text, TextEncoding) {
  return text.size();
}

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

// What the parser reports to its sink (a template parameter):
//
//   bool kWantsValues: whether value names and data are to be made at all;
//   void OpenKey(const std::vector<View>& names, size_t blockStart): a
//     "[path]" line, `blockStart` where the lines after it start;
//   void DeleteKey(const std::vector<View>& names): a "[-path]" line;
//   void KeyLineAt(size_t lineStart): where either of those lines starts,
//     reported first;
//   void SetValue(std::u16string name, uint32_t type, std::string data,
//     bool hexText): a value line under a key (only with kWantsValues);
//     `hexText` for string data given as hex bytes;
//   void DeleteValue(const std::u16string& name): a "name"=- line under a
//     key (only with kWantsValues).
//
// Values under a deleted key are checked but not reported.
template <typename CharT, typename Sink>
class Parser {
 public:
  using View = std::basic_string_view<CharT>;

  Parser(View text, TextEncoding encoding, Sink* sink)
      : lines_(text), encoding_(encoding), sink_(sink) {}

  // A whole file: its header line, then key lines, value lines, comments.
  bool Run(std::string* error) {
    View line;
    lines_.Next(&line);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    if (!EqualsAscii(line, kHeader4) && !EqualsAscii(line, kHeader5)) {
      return Fail("not a registry file", error);
    }
    return Rest(error);
  }

  // The lines that follow a key line: value lines, comments and blank lines.
  bool RunBlock(std::string* error) {
    where_ = Where::kKey;
    return Rest(error);
  }

  // One line of a block, with the lines it goes on over; false at the end
  // or when it cannot be read. `Start()` and `Position()` give where it
  // starts and where the text after it starts.
  bool BlockLine() {
    where_ = Where::kKey;
    return Line() == Step::kLine;
  }
  size_t Start() const { return lines_.Start(); }
  size_t Position() const { return lines_.Position(); }

 private:
  enum class Step { kLine, kEnd, kFault };
  enum class Where { kNoKey, kKey, kDeleted };

  bool Rest(std::string* error) {
    Step step;
    while ((step = Line()) == Step::kLine) {
    }
    return step == Step::kEnd || Fail(reason_, error);
  }

  Step Line() {
    View line;
    if (!lines_.Next(&line)) return Step::kEnd;
    line = TrimLeft(line);
    if (line.empty() || line.front() == CharT(';')) return Step::kLine;
    if (line.find(CharT(0)) != View::npos) return Fault("NUL character");
    bool ok = line.front() == CharT('[') ? KeyLine(line.substr(1))
              : line.front() == CharT('@') || line.front() == CharT('"')
                  ? ValueLine(line)
                  : Failed("unrecognised line");
    return ok ? Step::kLine : Step::kFault;
  }

  bool Failed(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }
  Step Fault(std::string reason) {
    reason_ = std::move(reason);
    return Step::kFault;
  }
  bool Fail(const std::string& reason, std::string* error) {
    *error = RegistryLineError(lines_.Number(), reason);
    return false;
  }

  // "[path]" or "[-path]", the bracket taken.
  bool KeyLine(View line) {
    // Key names may hold "]", so the path ends at the line's last one.
    size_t close = line.rfind(CharT(']'));
    if (close == View::npos || !TrimLeft(line.substr(close + 1)).empty()) {
      return Failed("a key line must end with \"]\"");
    }
    View path = line.substr(0, close);
    bool remove = !path.empty() && path.front() == CharT('-');
    if (remove) path.remove_prefix(1);
    if (!StartsWithAscii(path, kRootName) ||
        (path.size() > kRootName.size() && path[kRootName.size()] != CharT('\\'))) {
      return Failed("only keys of HKEY_LOCAL_MACHINE can be read");
    }
    path.remove_prefix(kRootName.size());
    while (!path.empty() && path.front() == CharT('\\')) path.remove_prefix(1);
    // The key names, skipping empty ones (a trailing or doubled backslash).
    names_.clear();
    bool tooLong = false;
    while (!path.empty() && !tooLong) {
      size_t end = path.find(CharT('\\'));
      View name = path.substr(0, end);
      tooLong = Utf16Length(name, encoding_) > kMaxKeyNameChars;
      if (!name.empty() && !tooLong) names_.push_back(name);
      if (end == View::npos) break;
      path.remove_prefix(end + 1);
    }
    if (tooLong || names_.size() > kMaxKeyDepth) {
      return Failed("key name too long or key too deep");
    }
    for (View name : names_) {
      if (HoldsLineBreak(name)) return Failed("line break in a key name");
    }
    if (remove && names_.empty()) return Failed("HKEY_LOCAL_MACHINE cannot be deleted");
    sink_->KeyLineAt(lines_.Start());
    if (remove) {
      sink_->DeleteKey(names_);
      where_ = Where::kDeleted;  // values under a deleted key are ignored, as regedit does
    } else {
      sink_->OpenKey(names_, lines_.Position());
      where_ = Where::kKey;
    }
    return true;
  }

  bool ValueLine(View line) {
    std::basic_string<CharT>* rawName = &rawName_;
    if (line.front() == CharT('@')) {
      line.remove_prefix(1);
      rawName->clear();
    } else {
      line.remove_prefix(1);
      if (!TakeQuoted(&line, rawName)) return Failed("missing closing quote of a value name");
      if (Utf16Length(View(*rawName), encoding_) > kMaxValueNameChars) {
        return Failed("value name too long");
      }
      if (HoldsLineBreak(View(*rawName))) return Failed("line break in a value name");
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != CharT('=')) {
      return Failed("\"=\" expected after the value name");
    }
    line = TrimLeft(line.substr(1));
    if (where_ == Where::kNoKey) return Failed("value before the first key line");
    const bool report = Sink::kWantsValues && where_ == Where::kKey;

    uint32_t type = kRegSz;
    std::string data;
    bool hexText = false;
    if (!line.empty() && line.front() == CharT('"')) {
      line.remove_prefix(1);
      if (!TakeQuoted(&line, report ? &rawText_ : nullptr)) {
        return Failed("missing closing quote of a string");
      }
      if (!OnlyCommentLeft(line)) return Failed("unexpected text after a string");
      if (report) {
        std::u16string text;
        AppendSourceText(View(rawText_), encoding_, &text);
        text.push_back(u'\0');
        data = Utf16LeBytes(text);
      }
    } else if (!line.empty() && line.front() == CharT('-')) {
      if (!OnlyCommentLeft(line.substr(1))) return Failed("unexpected text after \"-\"");
      if (report) sink_->DeleteValue(Name());
      return true;
    } else if (StartsWithAscii(line, "dword:")) {
      line.remove_prefix(6);
      uint32_t number = 0;
      if (!TakeHex(&line, 8, &number) || !OnlyCommentLeft(line)) {
        return Failed("a dword needs 1 to 8 hexadecimal digits");
      }
      type = kRegDword;
      if (report) {
        for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>(number >> (8 * i)));
      }
    } else if (StartsWithAscii(line, "hex")) {
      if (!HexValue(line.substr(3), &type, report ? &data : nullptr)) return false;
      hexText = IsRegistryStringType(type);
    } else {
      return Failed("unrecognised value data");
    }
    if (report) sink_->SetValue(Name(), type, std::move(data), hexText);
    return true;
  }

  std::u16string Name() const {
    std::u16string name;
    AppendSourceText(View(rawName_), encoding_, &name);
    return name;
  }

  // "hex:bytes" or "hex(type):bytes", after "hex"; bytes may go on over lines
  // that end with a backslash. `data`, when given, receives the bytes.
  bool HexValue(View line, uint32_t* type, std::string* data) {
    *type = kRegBinary;
    if (!line.empty() && line.front() == CharT('(')) {
      line.remove_prefix(1);
      if (!TakeHex(&line, 8, type) || line.empty() || line.front() != CharT(')')) {
        return Failed("hex(type) needs a hexadecimal type of 1 to 8 digits");
      }
      line.remove_prefix(1);
    }
    if (line.empty() || line.front() != CharT(':')) return Failed("\":\" expected after hex");
    line.remove_prefix(1);
    for (;;) {
      line = TrimLeft(line);
      if (!line.empty() && line.front() == CharT('\\') && TrimLeft(line.substr(1)).empty()) {
        if (!lines_.Next(&line)) return Failed("the file ends after a line continuation");
        continue;
      }
      // The common case first: two digits and a comma.
      int high = 0, low = 0;
      while (line.size() >= 3 && line[2] == CharT(',') && (high = HexDigit(line[0])) >= 0 &&
             (low = HexDigit(line[1])) >= 0) {
        if (data) data->push_back(static_cast<char>(high << 4 | low));
        line.remove_prefix(3);
      }
      line = TrimLeft(line);
      if (!line.empty() && line.front() == CharT('\\') && TrimLeft(line.substr(1)).empty()) {
        continue;
      }
      if (OnlyCommentLeft(line)) break;
      uint32_t byte = 0;
      if (!TakeHex(&line, 2, &byte)) return Failed("a byte of two hexadecimal digits expected");
      if (data) data->push_back(static_cast<char>(byte));
      line = TrimLeft(line);
      if (!line.empty() && line.front() == CharT(',')) {
        line.remove_prefix(1);
      } else if (!line.empty() && line.front() != CharT('\\') && line.front() != CharT(';')) {
        return Failed("\",\" expected between bytes");
      }
    }
    // Text outside a UTF-16 file is ANSI: stored as the Unicode it stands
    // for. In a UTF-16 file the bytes are stored as they are.
    if (data && encoding_ != TextEncoding::kUtf16 && IsRegistryStringType(*type)) {
      *data = Utf16LeBytes(Cp1252ToUtf16(*data));
    }
    return true;
  }

  LineReader<CharT> lines_;
  TextEncoding encoding_;
  Sink* sink_;
  Where where_ = Where::kNoKey;
  std::vector<View> names_;
  std::basic_string<CharT> rawName_;
  std::basic_string<CharT> rawText_;
  std::string reason_;
};

// A sink that builds the keys and values in a tree: below `root` for a whole
// file, or into one key for a block (where no key lines come). A tree whose
// keys may still be partly elsewhere (subkeys or values pending in a file's
// text, subkeys in a registry's spill) gets `fill`, which gives a node what
// it has pending before the sink looks at it, and brings back the subkey
// named, when one is, before the sink goes down to it.
template <typename CharT>
class TreeSink {
 public:
  using View = std::basic_string_view<CharT>;
  using Fill = void (*)(void* context, RegistryKeyNode* node, const std::u16string* subkey);
  static constexpr bool kWantsValues = true;

  TreeSink(RegistryKeyNode* root, TextEncoding encoding, Fill fill = nullptr,
           void* context = nullptr)
      : root_(root), current_(root), encoding_(encoding), fill_(fill), context_(context) {}

  void KeyLineAt(size_t) {}
  // A key that cannot be reached (a subkey whose spill cannot be read back)
  // leaves `current_` null, and its values go nowhere.
  void OpenKey(const std::vector<View>& names, size_t) {
    current_ = root_;
    bool created = false;
    for (View name : names) {
      if (current_ == nullptr) return;
      std::u16string subkey = Decode(name);
      Filled(current_, &subkey);
      current_ = current_->AddSubkey(subkey, &created);
    }
  }
  void DeleteKey(const std::vector<View>& names) {
    RegistryKeyNode* parent = root_;
    for (size_t i = 0; parent != nullptr && i + 1 < names.size(); ++i) {
      std::u16string subkey = Decode(names[i]);
      Filled(parent, &subkey);
      parent = parent->FindSubkey(std::u16string_view(subkey));
    }
    if (parent != nullptr) Filled(parent)->RemoveSubkey(Decode(names.back()));
  }
  // A key whose values changed is no longer written as its text stood.
  void SetValue(std::u16string name, uint32_t type, std::string data, bool) {
    if (current_ == nullptr) return;
    Filled(current_)->SetValue(name, type, std::move(data));
    current_->edited = true;
  }
  void DeleteValue(const std::u16string& name) {
    if (current_ == nullptr) return;
    Filled(current_)->RemoveValue(name);
    current_->edited = true;
  }

 private:
  std::u16string Decode(View name) const {
    std::u16string text;
    AppendSourceText(name, encoding_, &text);
    return text;
  }

  RegistryKeyNode* Filled(RegistryKeyNode* node, const std::u16string* subkey = nullptr) const {
    if (fill_ != nullptr) fill_(context_, node, subkey);
    return node;
  }

  RegistryKeyNode* root_;
  RegistryKeyNode* current_;
  TextEncoding encoding_;
  Fill fill_;
  void* context_;
};

}  // namespace registry_text
