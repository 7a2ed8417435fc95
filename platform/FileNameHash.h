// A hash of a file name that names the file system takes for one share:
// the letters A to Z count in either case, and every byte above 0x7F counts
// as one, since no file system here folds a letter beyond ASCII into ASCII
// or the other way. For hash tables of names compared with
// Env::CompareFileNames (or the portable layer's own name rule).
#pragma once

#include <cstdint>
#include <string_view>

inline uint64_t FileNameHash(std::string_view name) {
  uint64_t hash = 1469598103934665603u;  // FNV-1a
  for (char c : name) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 'a' && byte <= 'z') byte = static_cast<unsigned char>(byte - 'a' + 'A');
    if (byte > 0x7F) byte = 0x80;
    hash = (hash ^ byte) * 1099511628211u;
  }
  return hash;
}
