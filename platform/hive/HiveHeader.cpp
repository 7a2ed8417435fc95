#include "platform/hive/HiveHeader.h"

#include <cstring>

namespace {

uint32_t Word(std::string_view block, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, block.data() + at, sizeof value);  // hives are little-endian, as the host
  return value;
}

}  // namespace

uint32_t HiveHeaderChecksum(std::string_view block) {
  uint32_t sum = 0;
  for (size_t at = 0; at + 4 <= 508 && at + 4 <= block.size(); at += 4) sum ^= Word(block, at);
  if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
  if (sum == 0) return 1;
  return sum;
}

HiveCheck CheckHiveHeader(std::string_view file, uint64_t fileSize, HiveHeader* header) {
  if (file.size() < kHiveBaseBlockSize || file.substr(0, 4) != "regf") return HiveCheck::kNotAHive;
  header->primarySequence = Word(file, 4);
  header->secondarySequence = Word(file, 8);
  header->majorVersion = Word(file, 20);
  header->minorVersion = Word(file, 24);
  header->fileType = Word(file, 28);
  header->format = Word(file, 32);
  header->rootCell = Word(file, 36);
  header->binsSize = Word(file, 40);
  header->checksum = Word(file, 508);
  if (header->checksum != HiveHeaderChecksum(file)) return HiveCheck::kDamaged;
  if (header->majorVersion != 1 || header->minorVersion < 3 || header->minorVersion > 6 ||
      header->fileType != 0 || header->format != 1) {
    return HiveCheck::kUnsupported;
  }
  if (header->primarySequence != header->secondarySequence) return HiveCheck::kDirty;
  if (header->binsSize == 0 || header->binsSize % 4096 != 0 ||
      fileSize < kHiveBaseBlockSize + uint64_t{header->binsSize} ||
      header->rootCell >= header->binsSize) {
    return HiveCheck::kDamaged;
  }
  return HiveCheck::kOk;
}
