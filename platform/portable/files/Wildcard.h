// File-name comparison the Windows way: letter case ignored (ASCII and the
// letters of code page 1252), and search patterns with * and ?.
#pragma once

#include <string>
#include <string_view>

// The name with every letter in its upper-case form; two names are the same
// file name when their upper-case forms are equal.
std::string UpperName(std::string_view name);
bool SameName(std::string_view a, std::string_view b);

bool HasWildcard(std::string_view pattern);
// True when `name` matches `pattern`: * stands for any run of characters, ?
// for exactly one, letter case is ignored, and "*.*" matches every name (also
// names without a dot). Only long names are matched: the volumes this runs
// on keep no 8.3 aliases.
bool WildcardMatch(std::string_view pattern, std::string_view name);
