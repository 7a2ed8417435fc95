#include "support/HiveBuilder.h"

#include <cstring>

namespace {

constexpr size_t kBlock = 4096;
constexpr uint32_t kNone = 0xFFFFFFFF;

size_t Aligned8(size_t size) {
  return (size + 7) & ~size_t{7};
}

}  // namespace

void HiveBuilder::Put32(size_t at, uint32_t value) {
  std::memcpy(bytes_.data() + at, &value, sizeof value);
}

void HiveBuilder::Sign() {
  uint32_t sum = 0;
  for (size_t at = 0; at < 508; at += 4) {
    uint32_t word = 0;
    std::memcpy(&word, bytes_.data() + at, sizeof word);
    sum ^= word;
  }
  if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
  if (sum == 0) sum = 1;
  Put32(508, sum);
}

HiveBuilder::HiveBuilder(const std::string& rootName) : bytes_(2 * kBlock, '\0') {
  // The base block.
  std::memcpy(bytes_.data(), "regf", 4);
  Put32(4, 1);   // primary sequence number
  Put32(8, 1);   // secondary sequence number
  Put32(20, 1);  // major version
  Put32(24, 5);  // minor version: subkey lists with hashes (lh)
  Put32(28, 0);  // a primary hive file
  Put32(32, 1);  // the bins lie as in memory
  Put32(36, kRootCell);
  Put32(40, kBlock);  // one hive bin
  Put32(44, 1);       // clustering factor
  for (size_t i = 0; i < rootName.size() && i < 31; ++i) bytes_[48 + 2 * i] = rootName[i];

  // The hive bin's header.
  const size_t bin = kBlock;
  std::memcpy(bytes_.data() + bin, "hbin", 4);
  Put32(bin + 4, 0);       // offset from the first bin
  Put32(bin + 8, kBlock);  // its size

  // The root key: a key node with its name stored in single bytes.
  const size_t nameSize = rootName.size();
  const uint32_t nodeSize = static_cast<uint32_t>(Aligned8(0x50 + nameSize));
  const uint32_t securityCell = kRootCell + nodeSize;
  size_t nk = bin + kRootCell;
  Put32(nk, static_cast<uint32_t>(-static_cast<int32_t>(nodeSize)));  // in use: negative
  std::memcpy(bytes_.data() + nk + 4, "nk", 2);
  const uint16_t flags = 0x0004 | 0x0008 | 0x0020;  // hive entry, not deletable, ASCII name
  std::memcpy(bytes_.data() + nk + 6, &flags, 2);
  Put32(nk + 0x14, kNone);  // parent
  Put32(nk + 0x20, kNone);  // subkey list
  Put32(nk + 0x24, kNone);  // volatile subkey list
  Put32(nk + 0x2C, kNone);  // value list
  Put32(nk + 0x30, securityCell);
  Put32(nk + 0x34, kNone);  // class name
  const uint16_t nameLength = static_cast<uint16_t>(nameSize);
  std::memcpy(bytes_.data() + nk + 0x4C, &nameLength, 2);
  std::memcpy(bytes_.data() + nk + 0x50, rootName.data(), nameSize);

  // Its security cell, the only one, linked to itself: a self-relative
  // descriptor with no owner, group or access lists.
  const uint8_t descriptor[20] = {1, 0, 0x00, 0x80};  // revision 1, SE_SELF_RELATIVE
  const uint32_t securitySize = static_cast<uint32_t>(Aligned8(0x18 + sizeof descriptor));
  size_t sk = bin + securityCell;
  Put32(sk, static_cast<uint32_t>(-static_cast<int32_t>(securitySize)));
  std::memcpy(bytes_.data() + sk + 4, "sk", 2);
  Put32(sk + 0x08, securityCell);  // next
  Put32(sk + 0x0C, securityCell);  // previous
  Put32(sk + 0x10, 1);             // keys that use it
  Put32(sk + 0x14, sizeof descriptor);
  std::memcpy(bytes_.data() + sk + 0x18, descriptor, sizeof descriptor);

  // The rest of the bin is one free cell: positive size.
  const uint32_t used = securityCell + securitySize;
  Put32(bin + used, kBlock - used);
  Sign();
}

HiveBuilder& HiveBuilder::SecondarySequence(uint32_t sequence) {
  Put32(8, sequence);
  Sign();
  return *this;
}

HiveBuilder& HiveBuilder::Checksum(uint32_t checksum) {
  Put32(508, checksum);
  return *this;
}
