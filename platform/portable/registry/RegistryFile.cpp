#include "platform/portable/registry/RegistryFile.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/Env.h"
#include "platform/portable/text/Text.h"

namespace {

constexpr std::u16string_view kRootName = u"HKEY_LOCAL_MACHINE";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";

std::string LineError(int line, const std::string& reason) {
  return "line " + std::to_string(line) + ": " + reason;
}

int LineOf(std::u16string_view text) {
  int line = 1;
  for (char16_t c : text) line += c == u'\n';
  return line;
}

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && SameUnicodeName(text.substr(0, prefix.size()), prefix);
}

// --- Decoding: every form of file becomes UTF-16 text. ---

// How a file's bytes were read.
struct Decoded {
  std::u16string text;
  bool wide = false;     // UTF-16LE: hex(1), hex(2) and hex(7) data holds UTF-16 text
  bool unicode = false;  // UTF-16LE or UTF-8, as opposed to ANSI bytes
};

bool DecodeUtf16(std::string_view bytes, Decoded* decoded, std::string* error) {
  decoded->text = Utf16LeUnits(bytes);
  decoded->wide = decoded->unicode = true;
  if (bytes.size() % 2 != 0) {
    *error = LineError(LineOf(decoded->text), "the file ends inside a UTF-16 character");
    return false;
  }
  return true;
}

bool HasHighByte(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

bool Decode(std::string_view bytes, Decoded* decoded, std::string* error) {
  if (bytes.substr(0, 2) == "\xFF\xFE") return DecodeUtf16(bytes.substr(2), decoded, error);
  if (bytes.substr(0, 2) == "\xFE\xFF") {
    *error = LineError(1, "UTF-16 big-endian files are not supported");
    return false;
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
    size_t bad = FirstMalformedUtf8(bytes);
    if (bad != std::string_view::npos) {
      *error = LineError(LineOf(Cp1252ToUtf16(bytes.substr(0, bad))), "malformed UTF-8");
      return false;
    }
    decoded->text = Utf8ToUtf16(bytes);
    decoded->unicode = true;
    return true;
  }
  // Without a byte order mark: REGEDIT4 files hold ANSI bytes; others are
  // read as UTF-8 when they are valid UTF-8, else as ANSI bytes. Text of
  // ASCII alone reads the same either way and counts as ANSI.
  if (!bytes.starts_with("REGEDIT4") && HasHighByte(bytes) &&
      FirstMalformedUtf8(bytes) == std::string_view::npos) {
    decoded->text = Utf8ToUtf16(bytes);
    decoded->unicode = true;
    return true;
  }
  decoded->text = Cp1252ToUtf16(bytes);
  return true;
}

// --- Lines ---

class LineReader {
 public:
  explicit LineReader(std::u16string_view text) : text_(text) {}
  // The next line without its line end; false at the end of the text.
  bool Next(std::u16string_view* line) {
    if (pos_ > text_.size() || (pos_ == text_.size() && number_ > 0)) return false;
    size_t end = text_.find(u'\n', pos_);
    if (end == std::u16string_view::npos) end = text_.size();
    *line = text_.substr(pos_, end - pos_);
    if (!line->empty() && line->back() == u'\r') line->remove_suffix(1);
    pos_ = end + 1;
    ++number_;
    return true;
  }
  int Number() const { return number_; }

 private:
  std::u16string_view text_;
  size_t pos_ = 0;
  int number_ = 0;
};

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::u16string_view TrimLeft(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

// True when only blanks, or a comment, remain.
bool OnlyCommentLeft(std::u16string_view rest) {
  rest = TrimLeft(rest);
  return rest.empty() || rest.front() == u';';
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads 1 to `maxDigits` hex digits from the front of `s`.
bool TakeHex(std::u16string_view* s, size_t maxDigits, uint32_t* number) {
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
// escapes \\ \" \r \n; any other backslash stands for itself.
bool TakeQuoted(std::u16string_view* s, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < s->size(); ++i) {
    char16_t c = (*s)[i];
    if (c == u'"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (c == u'\\' && i + 1 < s->size()) {
      char16_t next = (*s)[i + 1];
      if (next == u'\\' || next == u'"' || next == u'r' || next == u'n') {
        out->push_back(next == u'r' ? u'\r' : next == u'n' ? u'\n' : next);
        ++i;
        continue;
      }
    }
    out->push_back(c);
  }
  return false;
}

bool HoldsLineBreak(std::u16string_view name) {
  return name.find_first_of(u"\r\n") != std::u16string_view::npos;
}

class Parser {
 public:
  Parser(std::u16string_view text, bool wide, RegistryKeyNode* root)
      : lines_(text), wide_(wide), root_(root) {}

  bool Run(std::string* error) {
    std::u16string_view line;
    lines_.Next(&line);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    if (line != kHeader4 && line != kHeader5) return Fail("not a registry file", error);
    while (lines_.Next(&line)) {
      line = TrimLeft(line);
      if (line.empty() || line.front() == u';') continue;
      if (line.find(u'\0') != std::u16string_view::npos) return Fail("NUL character", error);
      bool ok = line.front() == u'['                           ? KeyLine(line.substr(1))
                : line.front() == u'@' || line.front() == u'"' ? ValueLine(line)
                                                               : Failed("unrecognised line");
      if (!ok) return Fail(reason_, error);
    }
    return true;
  }

 private:
  bool Failed(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }
  bool Fail(const std::string& reason, std::string* error) {
    *error = LineError(lines_.Number(), reason);
    return false;
  }

  // "[path]" or "[-path]", the bracket taken.
  bool KeyLine(std::u16string_view line) {
    // Key names may hold "]", so the path ends at the line's last one.
    size_t close = line.rfind(u']');
    if (close == std::u16string_view::npos || !TrimLeft(line.substr(close + 1)).empty()) {
      return Failed("a key line must end with \"]\"");
    }
    std::u16string_view path = line.substr(0, close);
    bool remove = !path.empty() && path.front() == u'-';
    if (remove) path.remove_prefix(1);
    if (!StartsWithIgnoringCase(path, kRootName) ||
        (path.size() > kRootName.size() && path[kRootName.size()] != u'\\')) {
      return Failed("only keys of HKEY_LOCAL_MACHINE can be read");
    }
    path.remove_prefix(kRootName.size());
    while (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
    std::vector<std::u16string_view> names;
    if (SplitRegistryPath(path, &names) != 0 || names.size() > kMaxKeyDepth) {
      return Failed("key name too long or key too deep");
    }
    for (std::u16string_view name : names) {
      if (HoldsLineBreak(name)) return Failed("line break in a key name");
    }
    current_ = root_;
    if (remove) {
      if (names.empty()) return Failed("HKEY_LOCAL_MACHINE cannot be deleted");
      for (size_t i = 0; current_ != nullptr && i + 1 < names.size(); ++i) {
        current_ = current_->FindSubkey(names[i]);
      }
      if (current_ != nullptr) current_->RemoveSubkey(names.back());
      current_ = nullptr;  // values under a deleted key are ignored, as regedit does
      skipping_ = true;
      return true;
    }
    bool created = false;
    for (std::u16string_view name : names) current_ = current_->AddSubkey(name, &created);
    skipping_ = false;
    return true;
  }

  bool ValueLine(std::u16string_view line) {
    std::u16string name;
    if (line.front() == u'@') {
      line.remove_prefix(1);
    } else {
      line.remove_prefix(1);
      if (!TakeQuoted(&line, &name)) return Failed("missing closing quote of a value name");
      if (name.size() > kMaxValueNameChars) return Failed("value name too long");
      if (HoldsLineBreak(name)) return Failed("line break in a value name");
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != u'=') {
      return Failed("\"=\" expected after the value name");
    }
    line = TrimLeft(line.substr(1));
    if (current_ == nullptr && !skipping_) return Failed("value before the first key line");

    uint32_t type = kRegSz;
    std::string data;
    if (!line.empty() && line.front() == u'"') {
      line.remove_prefix(1);
      std::u16string text;
      if (!TakeQuoted(&line, &text)) return Failed("missing closing quote of a string");
      if (!OnlyCommentLeft(line)) return Failed("unexpected text after a string");
      text.push_back(u'\0');
      data = Utf16LeBytes(text);
    } else if (!line.empty() && line.front() == u'-') {
      if (!OnlyCommentLeft(line.substr(1))) return Failed("unexpected text after \"-\"");
      if (current_ != nullptr) current_->RemoveValue(name);
      return true;
    } else if (StartsWithIgnoringCase(line, u"dword:")) {
      line.remove_prefix(6);
      uint32_t number = 0;
      if (!TakeHex(&line, 8, &number) || !OnlyCommentLeft(line)) {
        return Failed("a dword needs 1 to 8 hexadecimal digits");
      }
      type = kRegDword;
      for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>(number >> (8 * i)));
    } else if (StartsWithIgnoringCase(line, u"hex")) {
      if (!HexValue(line.substr(3), &type, &data)) return false;
    } else {
      return Failed("unrecognised value data");
    }
    if (current_ != nullptr) current_->SetValue(name, type, std::move(data));
    return true;
  }

  // "hex:bytes" or "hex(type):bytes", after "hex"; bytes may go on over lines
  // that end with a backslash.
  bool HexValue(std::u16string_view line, uint32_t* type, std::string* data) {
    *type = kRegBinary;
    if (!line.empty() && line.front() == u'(') {
      line.remove_prefix(1);
      if (!TakeHex(&line, 8, type) || line.empty() || line.front() != u')') {
        return Failed("hex(type) needs a hexadecimal type of 1 to 8 digits");
      }
      line.remove_prefix(1);
    }
    if (line.empty() || line.front() != u':') return Failed("\":\" expected after hex");
    line.remove_prefix(1);
    for (;;) {
      line = TrimLeft(line);
      if (!line.empty() && line.front() == u'\\' && TrimLeft(line.substr(1)).empty()) {
        if (!lines_.Next(&line)) return Failed("the file ends after a line continuation");
        continue;
      }
      if (OnlyCommentLeft(line)) break;
      uint32_t byte = 0;
      if (!TakeHex(&line, 2, &byte)) return Failed("a byte of two hexadecimal digits expected");
      data->push_back(static_cast<char>(byte));
      line = TrimLeft(line);
      if (!line.empty() && line.front() == u',') {
        line.remove_prefix(1);
      } else if (!line.empty() && line.front() != u'\\' && line.front() != u';') {
        return Failed("\",\" expected between bytes");
      }
    }
    // Text outside a UTF-16 file is ANSI: stored as the Unicode it stands
    // for. In a UTF-16 file the bytes are stored as they are.
    if (!wide_ && IsRegistryStringType(*type)) *data = Utf16LeBytes(Cp1252ToUtf16(*data));
    return true;
  }

  LineReader lines_;
  bool wide_;
  RegistryKeyNode* root_;
  RegistryKeyNode* current_ = nullptr;
  bool skipping_ = false;  // inside a key deletion block
  std::string reason_;
};

// --- Writing ---

// True when code page 1252 holds every name below `key` and the text of
// every string value, so that an ANSI file gives them back unchanged.
bool AnsiHolds(const RegistryKeyNode& key) {
  if (!Cp1252HoldsAll(key.name)) return false;
  for (const auto& [unused, value] : key.values) {
    if (!Cp1252HoldsAll(value.name)) return false;
    if (IsRegistryStringType(value.type) &&
        (value.data.size() % 2 != 0 || !Cp1252HoldsAll(Utf16LeUnits(value.data)))) {
      return false;
    }
  }
  for (const auto& [unused, subkey] : key.subkeys) {
    if (!AnsiHolds(*subkey)) return false;
  }
  return true;
}

void AppendAscii(std::string_view text, std::u16string* out) {
  for (char c : text) out->push_back(static_cast<char16_t>(c));
}

void AppendEscaped(std::u16string_view text, std::u16string* out) {
  out->push_back(u'"');
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out->push_back(u'\\');
    out->push_back(c);
  }
  out->push_back(u'"');
}

// The text of a REG_SZ value as "text" when that form gives it back: whole
// UTF-16 code units with no NUL but a final one and no control characters
// other than tabs (line breaks in particular). Reading "text" back gives the
// text with its NUL, which is also what `reg import` stores: a string written
// without its NUL (as the import's typed values are) comes back as the same
// text, now terminated.
bool QuotedText(const RegistryValue& value, std::u16string* text) {
  if (value.type != kRegSz || value.data.size() % 2 != 0) return false;
  *text = Utf16LeUnits(value.data);
  if (!text->empty() && text->back() == u'\0') text->pop_back();
  for (char16_t c : *text) {
    if (c < 0x20 && c != u'\t') return false;
  }
  return true;
}

// Hex bytes separated by commas, wrapped after a comma with a backslash so
// that lines stay under 80 columns; continuation lines start with two blanks.
void AppendHexBytes(std::string_view bytes, size_t column, std::u16string* out) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    bool last = i + 1 == bytes.size();
    if (i > 0 && column + (last ? 2 : 3) > 77) {
      *out += u"\\\r\n  ";
      column = 2;
    }
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    out->push_back(kDigits[b >> 4]);
    out->push_back(kDigits[b & 15]);
    if (!last) out->push_back(u',');
    column += last ? 2 : 3;
  }
}

class Writer {
 public:
  explicit Writer(bool utf16) : utf16_(utf16) {}

  bool Key(const RegistryKeyNode& key, const std::u16string& path, std::string* error) {
    if (HoldsLineBreak(key.name)) {
      *error = "the key name in " + Utf16UnitsToUtf8(path) + " holds a line break";
      return false;
    }
    // A key with subkeys and no values needs no line of its own: its
    // subkeys' lines create it.
    if (!key.values.empty() || (key.depth > 0 && key.subkeys.empty())) {
      text_ += u"[" + path + u"]\r\n";
      for (const auto& [unused, value] : key.values) {
        if (HoldsLineBreak(value.name)) {
          *error = "a value name in " + Utf16UnitsToUtf8(path) + " holds a line break";
          return false;
        }
        Value(value);
      }
      text_ += u"\r\n";
    }
    for (const auto& [unused, subkey] : key.subkeys) {
      if (!Key(*subkey, path + u"\\" + subkey->name, error)) return false;
    }
    return true;
  }

  std::u16string& Text() { return text_; }

 private:
  void Value(const RegistryValue& value) {
    size_t start = text_.size();
    if (value.name.empty()) {
      text_.push_back(u'@');
    } else {
      AppendEscaped(value.name, &text_);
    }
    text_.push_back(u'=');
    std::u16string quoted;
    if (QuotedText(value, &quoted)) {
      AppendEscaped(quoted, &text_);
    } else if (value.type == kRegDword && value.data.size() == 4) {
      uint32_t number = 0;
      for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.data[i]);
      static constexpr char16_t kDigits[] = u"0123456789abcdef";
      text_ += u"dword:";
      for (int shift = 28; shift >= 0; shift -= 4) text_.push_back(kDigits[(number >> shift) & 15]);
    } else {
      if (value.type == kRegBinary) {
        text_ += u"hex:";
      } else {
        char digits[16];
        std::snprintf(digits, sizeof digits, "hex(%x):", static_cast<unsigned>(value.type));
        AppendAscii(digits, &text_);
      }
      // The text of a string type is ANSI bytes in an ANSI file.
      std::string bytes = IsRegistryStringType(value.type) && !utf16_
                              ? Utf16ToCp1252(Utf16LeUnits(value.data))
                              : value.data;
      AppendHexBytes(bytes, text_.size() - start, &text_);
    }
    text_ += u"\r\n";
  }

  bool utf16_;
  std::u16string text_;
};

}  // namespace

bool ParseRegistryFile(std::string_view bytes, RegistryKeyNode* root, std::string* error,
                       RegistryFileFormat* format) {
  Decoded decoded;
  if (!Decode(bytes, &decoded, error)) return false;
  if (!Parser(decoded.text, decoded.wide, root).Run(error)) return false;
  if (format) *format = decoded.unicode ? RegistryFileFormat::kUtf16 : RegistryFileFormat::kAnsi;
  return true;
}

bool FormatRegistryFile(const RegistryKeyNode& root, std::string* text, std::string* error,
                        RegistryFileFormat format, RegistryFileFormat* written) {
  if (format == RegistryFileFormat::kAnsi && !AnsiHolds(root)) format = RegistryFileFormat::kUtf16;
  bool utf16 = format == RegistryFileFormat::kUtf16;
  Writer writer(utf16);
  writer.Text() = utf16 ? kHeader5 : kHeader4;
  writer.Text() += u"\r\n\r\n";
  if (!writer.Key(root, std::u16string(kRootName), error)) return false;
  if (utf16) {
    *text = "\xFF\xFE" + Utf16LeBytes(writer.Text());
  } else {
    *text = Utf16ToCp1252(writer.Text());
  }
  if (written) *written = format;
  return true;
}
