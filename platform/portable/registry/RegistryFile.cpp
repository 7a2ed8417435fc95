#include "platform/portable/registry/RegistryFile.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/Env.h"
#include "platform/portable/registry/RegistryFileText.h"
#include "platform/portable/registry/RegistryParser.h"
#include "platform/portable/registry/RegistrySpill.h"
#include "platform/portable/text/Text.h"

using registry_text::HoldsLineBreak;
using registry_text::kHeader4;
using registry_text::kHeader5;
using registry_text::kRootName;
using registry_text::Parser;
using registry_text::TreeSink;

namespace {

// --- Writing ---

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

// The line of one value. `quoted` allows a REG_SZ as "text" (see
// QuotedText); without it, string data goes out as hex bytes as it is.
void AppendValue(const RegistryValue& value, bool utf16, bool quoted, std::u16string* out) {
  size_t start = out->size();
  if (value.name.empty()) {
    out->push_back(u'@');
  } else {
    AppendEscaped(value.name, out);
  }
  out->push_back(u'=');
  std::u16string text;
  if (quoted && QuotedText(value, &text)) {
    AppendEscaped(text, out);
  } else if (value.type == kRegDword && value.data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.data[i]);
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    *out += u"dword:";
    for (int shift = 28; shift >= 0; shift -= 4) out->push_back(kDigits[(number >> shift) & 15]);
  } else {
    if (value.type == kRegBinary) {
      *out += u"hex:";
    } else {
      char digits[16];
      std::snprintf(digits, sizeof digits, "hex(%x):", static_cast<unsigned>(value.type));
      AppendAscii(digits, out);
    }
    // The text of a string type is ANSI bytes in an ANSI file.
    std::string bytes = IsRegistryStringType(value.type) && !utf16
                            ? Utf16ToCp1252(Utf16LeUnits(value.data))
                            : value.data;
    AppendHexBytes(bytes, out->size() - start, out);
  }
  *out += u"\r\n";
}

// Checks what will be written before anything is: no name may hold a line
// break, which no registry file can carry, and `ansi` is cleared when code
// page 1252 cannot hold a name or the text of a string value. Keys and
// values still in a file's text need no look: the file could hold them.
class Checker {
 public:
  bool Key(const RegistryKeyNode& key, std::string* error) {
    if (HoldsLineBreak(std::u16string_view(key.name))) {
      *error = "the key name in " + Utf16UnitsToUtf8(path_) + " holds a line break";
      return false;
    }
    ansi = ansi && Cp1252HoldsAll(key.name);
    for (const auto& [unused, value] : key.values) {
      if (HoldsLineBreak(std::u16string_view(value.name))) {
        *error = "a value name in " + Utf16UnitsToUtf8(path_) + " holds a line break";
        return false;
      }
      ansi = ansi && Cp1252HoldsAll(value.name) &&
             (!IsRegistryStringType(value.type) ||
              (value.data.size() % 2 == 0 && Cp1252HoldsAll(Utf16LeUnits(value.data))));
    }
    for (const auto& [unused, subkey] : key.subkeys) {
      // A spilled tree is in code page 1252 without line breaks, or it
      // would not have been spilled.
      if (subkey.Spilled()) continue;
      size_t length = path_.size();
      path_ += u"\\" + subkey.node->name;
      if (!Key(*subkey.node, error)) return false;
      path_.resize(length);
    }
    return true;
  }

  bool ansi = true;

 private:
  std::u16string path_ = std::u16string(kRootName.begin(), kRootName.end());
};

// The bytes of the file on their way to the sink, in pieces of 64 KB
// (small writes cost much more than their bytes, larger pieces only cost
// memory): text made here is collected in UTF-16 and encoded for the form
// written; a file's own text in that form goes out as it is.
class Output {
 public:
  Output(bool utf16, const std::function<bool(std::string_view)>& sink)
      : utf16_(utf16), sink_(sink) {}

  std::u16string& Text() { return text_; }
  void MaybeFlush() {
    if (text_.size() >= kPiece / 8) Flush();
  }
  void Flush() {
    if (text_.empty()) return;
    Put(utf16_ ? Utf16LeBytes(text_) : Utf16ToCp1252(text_));
    text_.clear();
  }
  void Bytes(std::string_view bytes) {
    Flush();
    Put(bytes);
  }
  void Units(std::u16string_view units) {
    Flush();
    if constexpr (std::endian::native == std::endian::little) {
      Put(std::string_view(reinterpret_cast<const char*>(units.data()), 2 * units.size()));
    } else {
      for (size_t at = 0; at < units.size(); at += kPiece / 2) {
        Put(Utf16LeBytes(units.substr(at, kPiece / 2)));
      }
    }
  }
  // Everything to the sink; false when the sink refused a piece.
  bool Finish() {
    Flush();
    Send(piece_);
    piece_.clear();
    return ok_;
  }
  bool Ok() const { return ok_; }

 private:
  static constexpr size_t kPiece = 1 << 16;

  void Put(std::string_view bytes) {
    if (piece_.size() + bytes.size() > kPiece) {
      Send(piece_);
      piece_.clear();
    }
    if (bytes.size() >= kPiece) {
      Send(bytes);
    } else {
      piece_ += bytes;
    }
  }
  void Send(std::string_view bytes) {
    if (ok_ && !bytes.empty()) ok_ = sink_(bytes);
  }

  bool utf16_;
  const std::function<bool(std::string_view)>& sink_;
  std::u16string text_;
  std::string piece_;
  bool ok_ = true;
};

// Captures the one value of a line in a file's text, to write it anew.
struct CaptureSink {
  using View = std::string_view;
  static constexpr bool kWantsValues = true;
  void KeyLineAt(size_t) {}
  void OpenKey(const std::vector<View>&, size_t) {}
  void DeleteKey(const std::vector<View>&) {}
  void SetValue(std::u16string name, uint32_t type, std::string data, bool hex) {
    value = {std::move(name), type, std::move(data)};
    hexText = hex;
  }
  void DeleteValue(const std::u16string&) {}

  RegistryValue value;
  bool hexText = false;
};

class Writer {
 public:
  Writer(bool utf16, const RegistryFileText* file, RegistrySpill* spill, Output* out)
      : utf16_(utf16),
        file_(file),
        spill_(spill),
        out_(out),
        path_(kRootName.begin(), kRootName.end()) {}

  bool spillLost = false;  // a spilled tree could not be read back

  void Header() {
    if (utf16_) out_->Text().push_back(u'\uFEFF');  // the byte order mark
    AppendAscii(utf16_ ? kHeader5 : kHeader4, &out_->Text());
    out_->Text() += u"\r\n";
    RegistryFileText::Range preamble;
    if (file_ != nullptr) preamble = file_->Preamble();
    if (preamble.begin < preamble.end) {
      SourceText(preamble);
    } else {
      out_->Text() += u"\r\n";
    }
  }

  // A key of the tree; `path_` holds its path.
  void Key(const RegistryKeyNode& key) {
    if (!out_->Ok() || spillLost) return;
    if (file_ != nullptr && key.fileKey != kNoFileKey && !key.edited) {
      bool subkeys =
          key.subkeysPending ? !file_->Subkeys(key.fileKey).empty() : !key.subkeys.empty();
      FileText(key.fileKey, key.depth, subkeys);
    } else if (!key.values.empty() || (key.depth > 0 && key.subkeys.empty())) {
      // A key with subkeys and no values needs no line of its own: its
      // subkeys' lines create it.
      KeyLine();
      for (const auto& [unused, value] : key.values) {
        AppendValue(value, utf16_, true, &out_->Text());
      }
      out_->Text() += u"\r\n";
    }
    out_->MaybeFlush();
    if (file_ != nullptr && key.subkeysPending) {
      FileSubkeys(key.fileKey, key.depth);
      return;
    }
    for (const auto& [unused, subkey] : key.subkeys) {
      // A spilled tree is read back for the writing only, and let go again
      // after it.
      std::shared_ptr<const RegistryKeyNode> tree = subkey.node;
      if (subkey.Spilled() && spill_ != nullptr) tree = spill_->Copy(subkey, key.depth + 1);
      if (!tree) {
        spillLost = true;
        return;
      }
      size_t length = path_.size();
      path_ += u"\\" + tree->name;
      Key(*tree);
      path_.resize(length);
    }
  }

 private:
  void KeyLine() { out_->Text() += u"[" + path_ + u"]\r\n"; }

  // The subkeys of a key of the file that no call has reached: all of them
  // as they stand in the file.
  void FileSubkeys(uint32_t key, size_t depth) {
    for (uint32_t subkey : file_->Subkeys(key)) {
      if (!out_->Ok()) return;
      size_t length = path_.size();
      path_.push_back(u'\\');
      file_->AppendName(subkey, &path_);
      FileText(subkey, depth + 1, !file_->Subkeys(subkey).empty());
      out_->MaybeFlush();
      FileSubkeys(subkey, depth + 1);
      path_.resize(length);
    }
  }

  // A key's own lines in the file, after a "[key]" line made here: a key
  // that the file names in no key line of its own gets one only when nothing
  // else would create it.
  void FileText(uint32_t key, size_t depth, bool hasSubkeys) {
    if (file_->HasBlocks(key)) {
      KeyLine();
      file_->ForEachBlock(key, [&](RegistryFileText::Range block) { SourceText(block); });
    } else if (depth > 0 && !hasSubkeys) {
      KeyLine();
      out_->Text() += u"\r\n";
    }
  }

  // A stretch of the file's text, ending with a line end.
  void SourceText(RegistryFileText::Range range) {
    const RegistrySource& source = file_->Source();
    if (range.begin >= range.end) return;
    char16_t last;
    if (source.encoding == TextEncoding::kUtf16) {
      std::u16string_view text = source.Units().substr(range.begin, range.end - range.begin);
      out_->Units(text);
      last = text.back();
    } else {
      std::string_view text = source.Bytes().substr(range.begin, range.end - range.begin);
      if (utf16_) {
        CarryOver(text, source.encoding);
      } else {
        out_->Bytes(text);
      }
      last = static_cast<char16_t>(text.back());
    }
    // The file's last line may have no line end; a CR alone gets its LF.
    if (last == u'\r') {
      out_->Text() += u"\n";
    } else if (last != u'\n') {
      out_->Text() += u"\r\n";
    }
  }

  // ANSI or UTF-8 lines written into a UTF-16 file. They read the same
  // there, but for the bytes of hex(1), hex(2) and hex(7) text, which are
  // ANSI text in such a file and UTF-16LE in a UTF-16 one: those values are
  // written anew, as hex bytes still.
  void CarryOver(std::string_view text, TextEncoding encoding) {
    CaptureSink capture;
    Parser<char, CaptureSink> lines(text, encoding, &capture);
    size_t from = 0;
    while (from < text.size()) {
      capture.hexText = false;
      bool read = lines.BlockLine();
      size_t to = read ? lines.Position() : text.size();
      if (read && capture.hexText) {
        AppendValue(capture.value, true, false, &out_->Text());
      } else {
        AppendSourceText(text.substr(from, to - from), encoding, &out_->Text());
      }
      out_->MaybeFlush();
      if (to <= from) break;
      from = to;
    }
  }

  bool utf16_;
  const RegistryFileText* file_;
  RegistrySpill* spill_;
  Output* out_;
  std::u16string path_;
};

}  // namespace

bool ParseRegistryFile(std::string_view bytes, RegistryKeyNode* root, std::string* error,
                       RegistryFileFormat* format) {
  RegistrySource source;
  if (!source.TakeBytes(std::string(bytes), error)) return false;
  bool ok;
  if (source.encoding == TextEncoding::kUtf16) {
    TreeSink<char16_t> sink(root, source.encoding);
    ok = Parser<char16_t, TreeSink<char16_t>>(source.Units(), source.encoding, &sink).Run(error);
  } else {
    TreeSink<char> sink(root, source.encoding);
    ok = Parser<char, TreeSink<char>>(source.Bytes(), source.encoding, &sink).Run(error);
  }
  if (!ok) return false;
  if (format) *format = source.Unicode() ? RegistryFileFormat::kUtf16 : RegistryFileFormat::kAnsi;
  return true;
}

bool WriteRegistryFile(const RegistryKeyNode& root, const RegistryFileText* file,
                       RegistryFileFormat format, const std::function<bool(std::string_view)>& sink,
                       std::string* error, RegistryFileFormat* written, RegistrySpill* spill) {
  Checker checker;
  if (!checker.Key(root, error)) return false;
  if (!checker.ansi || (file != nullptr && file->Source().Unicode())) {
    format = RegistryFileFormat::kUtf16;
  }
  bool utf16 = format == RegistryFileFormat::kUtf16;
  Output out(utf16, sink);
  Writer writer(utf16, file, spill, &out);
  writer.Header();
  writer.Key(root);
  if (writer.spillLost) {
    *error = "the keys this run set aside in a temporary file cannot be read back";
    return false;
  }
  if (!out.Finish()) return false;
  if (written) *written = format;
  return true;
}

bool FormatRegistryFile(const RegistryKeyNode& root, std::string* text, std::string* error,
                        RegistryFileFormat format, RegistryFileFormat* written) {
  std::string bytes;
  auto append = [&bytes](std::string_view piece) {
    bytes += piece;
    return true;
  };
  if (!WriteRegistryFile(root, nullptr, format, append, error, written)) return false;
  *text = std::move(bytes);
  return true;
}
