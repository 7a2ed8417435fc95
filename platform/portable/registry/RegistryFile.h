// Registry files: the text form of a registry that regedit and `reg import`
// read and write.
//
// Reading accepts "REGEDIT4" and "Windows Registry Editor Version 5.00"
// files, in UTF-16LE with its byte order mark, UTF-8 with or without one, or
// ANSI bytes. Text read from Unicode lands as code page 1252 bytes, with '?'
// for characters that code page cannot hold. Writing gives REGEDIT4 text with
// the stored bytes passed through, which both this reader and `reg import`
// read back to the same values.
#pragma once

#include <string>
#include <string_view>

#include "platform/portable/registry/RegistryTree.h"

// Adds the keys and values of a registry file's bytes to `root`, the key
// HKEY_LOCAL_MACHINE. False, with `error` naming the line, when the file
// cannot be read; `root` may then hold part of it.
bool ParseRegistryFile(std::string_view bytes, RegistryKeyNode* root, std::string* error);

// The REGEDIT4 text of `root` and everything below it, CRLF line ends, keys
// and values sorted. False, with `error` saying why, when a key or value name
// holds a line break, which no registry file can carry.
bool FormatRegistryFile(const RegistryKeyNode& root, std::string* text, std::string* error);
