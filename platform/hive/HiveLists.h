// HiveLists: puts a key's subkey lists in a hive file in the order, and
// with the hashes, by which Windows looks subkeys up. libhivex sorts and
// hashes a name beyond ASCII by its UTF-8 bytes; Windows sorts by the
// upper-case UTF-16 form and hashes it (lh lists: hash = hash * 37 + unit),
// so without this it would not find such a key. The lists keep their
// cells and sizes; only their entries move and get new hashes.
#pragma once

#include <cstdint>
#include <cstdio>

// `key` is a key node's offset in `file` (as libhivex numbers nodes).
// False when the lists are not as expected (an lf list, which hashes the
// first four characters as bytes, holding a name beyond ASCII; a cell out
// of the file) or cannot be written: the file is then not to be used.
bool SortHiveSubkeyLists(std::FILE* file, uint64_t key);
