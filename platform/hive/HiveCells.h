// HiveCells: a hive file read and written by cell, never outside the file
// but at its end, and the key records and subkey lists the program reads in
// it. Offsets of cells count from the first hive bin, as the hive stores
// them; a key's node (as libhivex numbers it) is its cell's offset in the
// file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive/HiveHeader.h"

class HiveCells {
 public:
  explicit HiveCells(std::FILE* file);

  uint64_t Size() const { return size_; }
  bool Read(uint64_t at, size_t size, std::string* bytes);
  // Within the file, or from a place within it on past its end.
  bool Write(uint64_t at, std::string_view bytes);
  bool Flush();

  // The bytes of the allocated cell `cell` after its size field; false
  // when it is free, of less than `least` bytes, or not within the file.
  bool Cell(uint32_t cell, size_t least, std::string* payload);

  static uint64_t FileOffset(uint32_t cell) { return kHiveBaseBlockSize + uint64_t{cell}; }

 private:
  std::FILE* file_;
  uint64_t size_ = 0;
};

// Fields of a key record (nk), counted from the start of the cell's payload.
namespace hive_key {
constexpr size_t kFlags = 0x02, kWritten = 0x04, kParent = 0x10, kSubkeyCount = 0x14,
                 kSubkeyList = 0x1C, kVolatileList = 0x20, kValueCount = 0x24, kValueList = 0x28,
                 kSecurity = 0x2C, kClass = 0x30, kMaxNameBytes = 0x34, kMaxValueName = 0x3C,
                 kMaxValueData = 0x40, kNameLength = 0x48, kName = 0x4C;
constexpr uint16_t kAsciiName = 0x20;  // the name is stored one byte per character
}  // namespace hive_key

struct HiveSubkeyEntry {
  uint32_t cell = 0;
  std::u16string name;
};

// The name of the key in the cell `key`.
bool ReadHiveKeyName(HiveCells& cells, uint32_t key, std::u16string* name);

// Whether `file` reads as a sound hive, as the next run will open it: a
// clean base block, bins that tile the hive as it says, cells that tile
// each bin, and a root key whose name and subkey list can be read. One bin
// is held at a time, so a hive of any size costs little memory.
bool HiveFileSound(std::FILE* file);

// The subkeys a list (lf, lh, li, or ri over them) holds, in its order, with
// the cells of the list itself in `listCells`.
bool ReadHiveSubkeyList(HiveCells& cells, uint32_t list, std::vector<HiveSubkeyEntry>* entries,
                        std::vector<uint32_t>* listCells);
