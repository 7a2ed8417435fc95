// How the private-profile service reads names, on every platform: blanks
// around section and key names do not count, and ASCII letters compare
// without regard to case (other bytes compare exactly).
#pragma once

#include <string>
#include <string_view>

// Blank characters of profile files: space, TAB, VT, FF and the end-of-file
// mark 0x1A.
bool IsProfileBlank(char c);
std::string_view TrimProfileBlanks(std::string_view text);
// Names as the service compares them once trimmed.
bool SameProfileName(std::string_view a, std::string_view b);
// The key by which such names compare: ASCII letters in lower case.
std::string ProfileNameKey(std::string_view name);
// True when the service takes `a` and `b`, blanks and all, for one name.
bool SameProfileNameTrimmed(std::string_view a, std::string_view b);
