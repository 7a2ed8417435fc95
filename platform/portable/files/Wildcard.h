// File search patterns the Windows way: * and ?, letter case ignored.
#pragma once

#include <string_view>

bool HasWildcard(std::string_view pattern);
// True when `name` matches `pattern`: * stands for any run of characters, ?
// for exactly one, letter case is ignored (as SameName ignores it), and "*.*"
// matches every name (also names without a dot). Only long names are
// matched: the volumes this runs on keep no 8.3 aliases.
bool WildcardMatch(std::string_view pattern, std::string_view name);
