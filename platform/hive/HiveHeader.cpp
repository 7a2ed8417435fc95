#include "platform/hive/HiveHeader.h"

uint32_t HiveHeaderChecksum(std::string_view block) {
  uint32_t sum = 0;
  for (size_t at = 0; at + 4 <= hive_base::kChecksum && at + 4 <= block.size(); at += 4)
    sum ^= LoadU32(block, at);
  if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
  if (sum == 0) return 1;
  return sum;
}

HiveCheck CheckHiveHeader(std::string_view file, uint64_t fileSize, HiveHeader* header) {
  if (file.size() < kHiveBaseBlockSize || file.substr(0, 4) != "regf") return HiveCheck::kNotAHive;
  header->primarySequence = LoadU32(file, 4);
  header->secondarySequence = LoadU32(file, 8);
  header->majorVersion = LoadU32(file, 20);
  header->minorVersion = LoadU32(file, 24);
  header->fileType = LoadU32(file, 28);
  header->format = LoadU32(file, 32);
  header->rootCell = LoadU32(file, 36);
  header->binsSize = LoadU32(file, hive_base::kBinsSize);
  header->checksum = LoadU32(file, hive_base::kChecksum);
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
