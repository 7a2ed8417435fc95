// Registry files: the text form of a registry that regedit and `reg import`
// read and write.
//
// Reading accepts "REGEDIT4" and "Windows Registry Editor Version 5.00"
// files, in UTF-16LE with its byte order mark, UTF-8 with or without one, or
// ANSI (code page 1252) bytes; a file without a byte order mark is UTF-8 when
// it is not a REGEDIT4 file, is valid UTF-8 and holds a byte above 0x7F, and
// ANSI otherwise. Names and strings are read as Unicode, whatever the form.
// The bytes of hex(1), hex(2) and hex(7) data are UTF-16LE text in a UTF-16
// file and ANSI text in any other, as `reg import` takes them.
//
// Writing gives one of the two forms regedit itself writes, each of which
// `reg import` reads back to the same keys and values: REGEDIT4 in code page
// 1252, whose hex bytes are ANSI text, or "Windows Registry Editor Version
// 5.00" in UTF-16LE with its byte order mark, whose hex bytes are UTF-16LE.
// Either way the data the A functions see is the same.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/portable/registry/RegistryTree.h"

class RegistryFileText;
class RegistrySpill;

// The forms in which registry files are written.
enum class RegistryFileFormat {
  kAnsi,   // "REGEDIT4", code page 1252
  kUtf16,  // "Windows Registry Editor Version 5.00", UTF-16LE with its byte order mark
};

// Adds the keys and values of a registry file's bytes to `root`, the key
// HKEY_LOCAL_MACHINE. False, with `error` naming the line, when the file
// cannot be read; `root` may then hold part of it.
//
// `format`, when given, receives the form in which to write the file back:
// kAnsi for a file read as ANSI bytes, whatever its header (REGEDIT4 is the
// header that says the text is ANSI, so no reader takes it for UTF-8), and
// kUtf16 for a file read as UTF-16LE or as UTF-8. UTF-8 is Unicode text, but
// it cannot be written back as such: `reg import` refuses UTF-8 with a byte
// order mark and takes UTF-8 without one for ANSI bytes, so its text would
// not come back. UTF-16LE is the Unicode form `reg import` reads, and it
// holds any text.
bool ParseRegistryFile(std::string_view bytes, RegistryKeyNode* root, std::string* error,
                       RegistryFileFormat* format = nullptr);

// The text of `root` and everything below it in `format`, CRLF line ends,
// keys and values sorted. When code page 1252 cannot hold a name or the text
// of a string value, the text is kUtf16 instead; `written`, when given,
// receives the form used. False, with `error` saying why, when a key or value
// name holds a line break, which no registry file can carry.
bool FormatRegistryFile(const RegistryKeyNode& root, std::string* text, std::string* error,
                        RegistryFileFormat format = RegistryFileFormat::kAnsi,
                        RegistryFileFormat* written = nullptr);

// Writes the same in pieces to `sink`, for `root` as read from `file` (see
// RegistryFileText): a key whose values are still in the file, or that no
// call changed, is written as its lines stand there, after its own "[key]"
// line, carried over into UTF-16 when the file's text is not; all other
// keys are written as FormatRegistryFile writes them. What lies between the
// file's header line and its first key line stays too. Text from a Unicode
// file is always written as kUtf16. Checks the names before the first piece
// goes out. False, with `error` saying why, as FormatRegistryFile; false with
// `error` untouched when the sink returned false (and nothing more went to
// it). The trees of spilled keys are read back from `spill`, one at a time;
// when one cannot be, the result is false with the reason, and the sink has
// not received the end of the file.
bool WriteRegistryFile(const RegistryKeyNode& root, const RegistryFileText* file,
                       RegistryFileFormat format, const std::function<bool(std::string_view)>& sink,
                       std::string* error, RegistryFileFormat* written = nullptr,
                       RegistrySpill* spill = nullptr);
