#include "platform/portable/registry/RegistryParser.h"

#include <algorithm>

namespace {

bool HasHighByte(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

int LineOf(std::string_view bytes) {
  return 1 + static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n'));
}

}  // namespace

std::string RegistryLineError(int line, const std::string& reason) {
  return "line " + std::to_string(line) + ": " + reason;
}

void AppendSourceText(std::string_view text, TextEncoding encoding, std::u16string* out) {
  if (encoding != TextEncoding::kUtf8) {
    for (char c : text) out->push_back(Cp1252ToUnicode(static_cast<unsigned char>(c)));
    return;
  }
  for (size_t pos = 0; pos < text.size();) {
    char32_t ch = NextUtf8(text, &pos);
    if (ch >= 0x10000) {
      ch -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (ch >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (ch & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(ch));
    }
  }
}

bool RegistrySource::TakeUnits(std::u16string fileUnits, bool oddByte, std::string* error) {
  encoding = TextEncoding::kUtf16;
  units = std::move(fileUnits);
  bytes.clear();
  start = 0;
  if (oddByte) {
    int line = 1 + static_cast<int>(std::count(units.begin(), units.end(), u'\n'));
    *error = RegistryLineError(line, "the file ends inside a UTF-16 character");
    return false;
  }
  return true;
}

bool RegistrySource::TakeBytes(std::string fileBytes, std::string* error) {
  std::string_view view = fileBytes;
  if (view.substr(0, 2) == "\xFF\xFE") {
    return TakeUnits(Utf16LeUnits(view.substr(2)), view.size() % 2 != 0, error);
  }
  units.clear();
  bytes = std::move(fileBytes);
  start = 0;
  view = bytes;
  if (view.substr(0, 2) == "\xFE\xFF") {
    *error = RegistryLineError(1, "UTF-16 big-endian files are not supported");
    return false;
  }
  if (view.substr(0, 3) == "\xEF\xBB\xBF") {
    start = 3;
    view.remove_prefix(3);
    size_t bad = FirstMalformedUtf8(view);
    if (bad != std::string_view::npos) {
      *error = RegistryLineError(LineOf(view.substr(0, bad)), "malformed UTF-8");
      return false;
    }
    encoding = TextEncoding::kUtf8;
    return true;
  }
  // Without a byte order mark: REGEDIT4 files hold ANSI bytes; others are
  // read as UTF-8 when they are valid UTF-8, else as ANSI bytes. Text of
  // ASCII alone reads the same either way and counts as ANSI.
  encoding = !view.starts_with("REGEDIT4") && HasHighByte(view) &&
                     FirstMalformedUtf8(view) == std::string_view::npos
                 ? TextEncoding::kUtf8
                 : TextEncoding::kAnsi;
  return true;
}
