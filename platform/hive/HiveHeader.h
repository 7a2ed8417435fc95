// HiveHeader: the base block of a registry hive file, the first 4 KiB, read
// and checked before any library sees the file. A hive Windows did not
// close cleanly (hibernation or Fast Startup leaves one so, with changes
// still in its .LOG1/.LOG2 files) has two different sequence numbers; one
// whose header was damaged fails its checksum.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t kHiveBaseBlockSize = 4096;

// Fields of the base block that a commit writes.
namespace hive_base {
constexpr size_t kWritten = 0x0C, kBinsSize = 0x28, kChecksum = 0x1FC;
}  // namespace hive_base

enum class HiveCheck {
  kOk,
  kUnreadable,   // the file cannot be read
  kNotAHive,     // no base block, or not a registry hive
  kUnsupported,  // a hive of a kind the program does not write (a log, a version it does not know)
  kDirty,        // the sequence numbers differ: Windows did not shut down completely
  kDamaged,      // the checksum does not match, or the sizes do not fit the file
  kRefused,      // the hive library could not open it
  kDamagedKey,   // a key the run works with cannot be read or changed as a commit would
};

struct HiveHeader {
  uint32_t primarySequence = 0;
  uint32_t secondarySequence = 0;
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t fileType = 0;  // 0: a primary hive; 1 and up: logs and alternates
  uint32_t format = 0;    // 1: the hive bins follow as they lie in memory
  uint32_t rootCell = 0;  // offset of the root key, from the first hive bin
  uint32_t binsSize = 0;  // bytes of hive bins after the base block
  uint32_t checksum = 0;
};

// The checksum a base block should carry: the XOR of its first 127 32-bit
// words, with 0 and 0xFFFFFFFF, which Windows does not store, moved to 1
// and 0xFFFFFFFE.
uint32_t HiveHeaderChecksum(std::string_view block);

// Reads and checks the base block at the start of `file` (of `fileSize`
// bytes in all); `header` is filled as far as the block could be read.
HiveCheck CheckHiveHeader(std::string_view file, uint64_t fileSize, HiveHeader* header);

// Little-endian fields, as a hive stores them.
inline uint32_t LoadU32(std::string_view bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    value |= uint32_t{static_cast<unsigned char>(bytes[at + i])} << 8 * i;
  }
  return value;
}
inline uint16_t LoadU16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                               static_cast<unsigned char>(bytes[at + 1]) << 8);
}
inline void StoreU32(std::string* bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> 8 * i);
}
inline void StoreU16(std::string* bytes, size_t at, uint16_t value) {
  (*bytes)[at] = static_cast<char>(value);
  (*bytes)[at + 1] = static_cast<char>(value >> 8);
}
