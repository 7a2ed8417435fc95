// The registry's ANSI view: names and text are bytes of code page 1252, as
// the A functions of a Windows machine with that code page see them. These
// helpers convert between those bytes and Unicode and give the form in which
// the registry compares names.
#pragma once

#include <string>
#include <string_view>

// The Unicode character a code page 1252 byte stands for. The five bytes the
// code page leaves undefined (81, 8D, 8F, 90, 9D) map to the C1 control
// characters of the same number, as Windows maps them.
char16_t Cp1252ToUnicode(unsigned char byte);

// The code page 1252 byte for a Unicode character, or '?' when the code page
// has none (as WideCharToMultiByte substitutes its default character).
char Cp1252FromUnicode(char32_t ch);

// The key under which the registry compares a name: every character in its
// upper-case form, as Unicode. Names with equal keys are the same name, and
// subkeys enumerate in the order of their keys.
std::u16string RegistryNameKey(std::string_view name);
