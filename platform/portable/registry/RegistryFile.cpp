#include "platform/portable/registry/RegistryFile.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/Env.h"
#include "platform/portable/text/Text.h"

namespace {

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

std::string LineError(int line, const std::string& reason) {
  return "line " + std::to_string(line) + ": " + reason;
}

int LineOf(std::string_view text) {
  int line = 1;
  for (char c : text) line += c == '\n';
  return line;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

// --- Decoding: every form of file becomes code page 1252 text. ---

bool DecodeUtf16(std::string_view bytes, std::string* text, std::string* error) {
  *text = Utf8ToCp1252(Utf16ToUtf8(bytes, false));
  if (bytes.size() % 2 != 0) {
    *error = LineError(LineOf(*text), "the file ends inside a UTF-16 character");
    return false;
  }
  return true;
}

// Decodes UTF-8; false at the first malformed sequence, whose offset in
// `bytes` goes to `bad`.
bool DecodeUtf8(std::string_view bytes, std::string* text, size_t* bad) {
  *bad = FirstMalformedUtf8(bytes);
  if (*bad != std::string_view::npos) return false;
  *text = Utf8ToCp1252(bytes);
  return true;
}

// `wide` tells whether hex(1), hex(2) and hex(7) data holds UTF-16 text, as
// it does in files that regedit writes in UTF-16.
bool Decode(std::string_view bytes, std::string* text, bool* wide, std::string* error) {
  *wide = false;
  if (bytes.substr(0, 2) == "\xFF\xFE") {
    *wide = true;
    return DecodeUtf16(bytes.substr(2), text, error);
  }
  if (bytes.substr(0, 2) == "\xFE\xFF") {
    *error = LineError(1, "UTF-16 big-endian files are not supported");
    return false;
  }
  size_t bad = 0;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    if (DecodeUtf8(bytes.substr(3), text, &bad)) return true;
    *error = LineError(LineOf(bytes.substr(0, 3 + bad)), "malformed UTF-8");
    return false;
  }
  // Without a byte order mark: REGEDIT4 files hold ANSI bytes; others are
  // read as UTF-8 when they are valid UTF-8, else as ANSI bytes.
  if (!bytes.starts_with(kHeader4) && DecodeUtf8(bytes, text, &bad)) return true;
  text->assign(bytes);
  return true;
}

// --- Lines ---

class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}
  // The next line without its line end; false at the end of the text.
  bool Next(std::string_view* line) {
    if (pos_ > text_.size() || (pos_ == text_.size() && number_ > 0)) return false;
    size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    *line = text_.substr(pos_, end - pos_);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    pos_ = end + 1;
    ++number_;
    return true;
  }
  int Number() const { return number_; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  int number_ = 0;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

// True when only blanks, or a comment, remain.
bool OnlyCommentLeft(std::string_view rest) {
  rest = TrimLeft(rest);
  return rest.empty() || rest.front() == ';';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 1 to `maxDigits` hex digits from the front of `s`.
bool TakeHex(std::string_view* s, size_t maxDigits, uint32_t* number) {
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
bool TakeQuoted(std::string_view* s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s->size(); ++i) {
    char c = (*s)[i];
    if (c == '"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < s->size()) {
      char next = (*s)[i + 1];
      if (next == '\\' || next == '"' || next == 'r' || next == 'n') {
        out->push_back(next == 'r' ? '\r' : next == 'n' ? '\n' : next);
        ++i;
        continue;
      }
    }
    out->push_back(c);
  }
  return false;
}

class Parser {
 public:
  Parser(std::string_view text, bool wide, RegistryKeyNode* root)
      : lines_(text), wide_(wide), root_(root) {}

  bool Run(std::string* error) {
    std::string_view line;
    lines_.Next(&line);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    if (line != kHeader4 && line != kHeader5) return Fail("not a registry file", error);
    while (lines_.Next(&line)) {
      line = TrimLeft(line);
      if (line.empty() || line.front() == ';') continue;
      if (line.find('\0') != std::string_view::npos) return Fail("NUL character", error);
      bool ok = line.front() == '['                          ? KeyLine(line.substr(1))
                : line.front() == '@' || line.front() == '"' ? ValueLine(line)
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
  bool KeyLine(std::string_view line) {
    // Key names may hold "]", so the path ends at the line's last one.
    size_t close = line.rfind(']');
    if (close == std::string_view::npos || !TrimLeft(line.substr(close + 1)).empty()) {
      return Failed("a key line must end with \"]\"");
    }
    std::string_view path = line.substr(0, close);
    bool remove = !path.empty() && path.front() == '-';
    if (remove) path.remove_prefix(1);
    if (!StartsWithIgnoringCase(path, kRootName) ||
        (path.size() > kRootName.size() && path[kRootName.size()] != '\\')) {
      return Failed("only keys of HKEY_LOCAL_MACHINE can be read");
    }
    path.remove_prefix(kRootName.size());
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    std::vector<std::string_view> names;
    if (SplitRegistryPath(path, &names) != 0 || names.size() > kMaxKeyDepth) {
      return Failed("key name too long or key too deep");
    }
    for (std::string_view name : names) {
      if (name.find_first_of("\r\n") != std::string_view::npos) {
        return Failed("line break in a key name");
      }
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
    for (std::string_view name : names) current_ = current_->AddSubkey(name, &created);
    skipping_ = false;
    return true;
  }

  bool ValueLine(std::string_view line) {
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else {
      line.remove_prefix(1);
      if (!TakeQuoted(&line, &name)) return Failed("missing closing quote of a value name");
      if (name.size() > kMaxValueNameChars) return Failed("value name too long");
      if (name.find_first_of("\r\n") != std::string::npos) {
        return Failed("line break in a value name");
      }
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') return Failed("\"=\" expected after the value name");
    line = TrimLeft(line.substr(1));
    if (current_ == nullptr && !skipping_) return Failed("value before the first key line");

    uint32_t type = kRegSz;
    std::string data;
    if (!line.empty() && line.front() == '"') {
      line.remove_prefix(1);
      if (!TakeQuoted(&line, &data)) return Failed("missing closing quote of a string");
      if (!OnlyCommentLeft(line)) return Failed("unexpected text after a string");
      data.push_back('\0');
    } else if (!line.empty() && line.front() == '-') {
      if (!OnlyCommentLeft(line.substr(1))) return Failed("unexpected text after \"-\"");
      if (current_ != nullptr) current_->RemoveValue(name);
      return true;
    } else if (StartsWithIgnoringCase(line, "dword:")) {
      line.remove_prefix(6);
      uint32_t number = 0;
      if (!TakeHex(&line, 8, &number) || !OnlyCommentLeft(line)) {
        return Failed("a dword needs 1 to 8 hexadecimal digits");
      }
      type = kRegDword;
      for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>(number >> (8 * i)));
    } else if (StartsWithIgnoringCase(line, "hex")) {
      if (!HexValue(line.substr(3), &type, &data)) return false;
    } else {
      return Failed("unrecognised value data");
    }
    if (current_ != nullptr) current_->SetValue(name, type, std::move(data));
    return true;
  }

  // "hex:bytes" or "hex(type):bytes", after "hex"; bytes may go on over lines
  // that end with a backslash.
  bool HexValue(std::string_view line, uint32_t* type, std::string* data) {
    *type = kRegBinary;
    if (!line.empty() && line.front() == '(') {
      line.remove_prefix(1);
      if (!TakeHex(&line, 8, type) || line.empty() || line.front() != ')') {
        return Failed("hex(type) needs a hexadecimal type of 1 to 8 digits");
      }
      line.remove_prefix(1);
    }
    if (line.empty() || line.front() != ':') return Failed("\":\" expected after hex");
    line.remove_prefix(1);
    for (;;) {
      line = TrimLeft(line);
      if (!line.empty() && line.front() == '\\' && TrimLeft(line.substr(1)).empty()) {
        if (!lines_.Next(&line)) return Failed("the file ends after a line continuation");
        continue;
      }
      if (OnlyCommentLeft(line)) break;
      uint32_t byte = 0;
      if (!TakeHex(&line, 2, &byte)) return Failed("a byte of two hexadecimal digits expected");
      data->push_back(static_cast<char>(byte));
      line = TrimLeft(line);
      if (!line.empty() && line.front() == ',') {
        line.remove_prefix(1);
      } else if (!line.empty() && line.front() != '\\' && line.front() != ';') {
        return Failed("\",\" expected between bytes");
      }
    }
    if (wide_ && (*type == kRegSz || *type == kRegExpandSz || *type == kRegMultiSz)) {
      std::string error;
      std::string narrow;
      DecodeUtf16(data->substr(0, data->size() & ~size_t{1}), &narrow, &error);
      *data = std::move(narrow);
    }
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

// The text of a REG_SZ without its final NUL, if it has one.
std::string_view QuotedText(const RegistryValue& value) {
  std::string_view text = value.data;
  if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  return text;
}

void AppendEscaped(std::string_view text, std::string* out) {
  out->push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// A REG_SZ value is written as "text" when it holds no NUL but a final one
// and no control characters other than tabs (line breaks in particular).
// Reading "text" back gives the text with its NUL, which is also what
// `reg import` stores: a string written without its NUL (as the import's
// typed values are) comes back as the same text, now terminated.
bool FitsQuotedForm(const RegistryValue& value) {
  if (value.type != kRegSz) return false;
  std::string_view text = QuotedText(value);
  for (unsigned char c : text) {
    if (c < 0x20 && c != '\t') return false;
  }
  return true;
}

// Hex bytes separated by commas, wrapped after a comma with a backslash so
// that lines stay under 80 columns; continuation lines start with two blanks.
void AppendHexBytes(std::string_view bytes, size_t column, std::string* out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    bool last = i + 1 == bytes.size();
    if (i > 0 && column + (last ? 2 : 3) > 77) {
      *out += "\\\r\n  ";
      column = 2;
    }
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    out->push_back(kDigits[b >> 4]);
    out->push_back(kDigits[b & 15]);
    if (!last) out->push_back(',');
    column += last ? 2 : 3;
  }
}

void AppendValue(const RegistryValue& value, std::string* out) {
  size_t start = out->size();
  if (value.name.empty()) {
    out->push_back('@');
  } else {
    AppendEscaped(value.name, out);
  }
  out->push_back('=');
  if (FitsQuotedForm(value)) {
    AppendEscaped(QuotedText(value), out);
  } else if (value.type == kRegDword && value.data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.data[i]);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
    *out += text;
  } else {
    if (value.type == kRegBinary) {
      *out += "hex:";
    } else {
      char text[16];
      std::snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(value.type));
      *out += text;
    }
    AppendHexBytes(value.data, out->size() - start, out);
  }
  *out += "\r\n";
}

bool AppendKey(const RegistryKeyNode& key, const std::string& path, std::string* out,
               std::string* error) {
  if (key.name.find_first_of("\r\n") != std::string::npos) {
    *error = "the key name in " + path + " holds a line break";
    return false;
  }
  // A key with subkeys and no values needs no line of its own: its
  // subkeys' lines create it.
  if (!key.values.empty() || (key.depth > 0 && key.subkeys.empty())) {
    *out += "[" + path + "]\r\n";
    for (const auto& [unused, value] : key.values) {
      if (value.name.find_first_of("\r\n") != std::string::npos) {
        *error = "a value name in " + path + " holds a line break";
        return false;
      }
      AppendValue(value, out);
    }
    *out += "\r\n";
  }
  for (const auto& [unused, subkey] : key.subkeys) {
    if (!AppendKey(*subkey, path + "\\" + subkey->name, out, error)) return false;
  }
  return true;
}

}  // namespace

bool ParseRegistryFile(std::string_view bytes, RegistryKeyNode* root, std::string* error) {
  std::string text;
  bool wide = false;
  if (!Decode(bytes, &text, &wide, error)) return false;
  return Parser(text, wide, root).Run(error);
}

bool FormatRegistryFile(const RegistryKeyNode& root, std::string* text, std::string* error) {
  text->assign(kHeader4);
  *text += "\r\n\r\n";
  return AppendKey(root, std::string(kRootName), text, error);
}
