// An independent reader of a hive's subkey lists, for the tests: for one
// key, its subkeys' names in the order the lists keep them, and whether
// every hash is the one Windows computes (lh: each UTF-16 unit upper-cased,
// hash = hash * 37 + unit; lf: the first four characters). Windows finds a
// subkey by that order and that hash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HiveSubkeyList {
  bool readable = false;
  std::vector<std::u16string> names;  // in the lists' order
  bool hashesRight = true;
  size_t leaves = 0;  // the lists below any index root
};

// The subkeys of the key at `path` (names below the root, compared in any
// letter case by Windows' rule) in the hive `bytes`.
HiveSubkeyList ReadHiveSubkeyList(const std::string& bytes,
                                  const std::vector<std::u16string>& path);
