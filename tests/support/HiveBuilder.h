// Registry hives built in code, so that the tests ship no hive from a real
// Windows: the base block, then one hive bin of 4 KiB holding the root key,
// its security cell and one free cell over the rest. Changes to the bytes
// (a sequence number, the checksum) make the hives Windows leaves behind
// when it does not shut down completely.
#pragma once

#include <cstdint>
#include <string>

class HiveBuilder {
 public:
  // An empty hive: the root key `rootName` (ASCII), no subkeys, no values.
  explicit HiveBuilder(const std::string& rootName = "ROOT");

  // Sets the base block's second sequence number (as a write that never
  // finished leaves it) and signs the block again.
  HiveBuilder& SecondarySequence(uint32_t sequence);
  // Stores `checksum` as it stands, right or wrong.
  HiveBuilder& Checksum(uint32_t checksum);

  const std::string& Bytes() const { return bytes_; }
  // Offsets within the hive bins of the root key and its security cell.
  static constexpr uint32_t kRootCell = 0x20;

 private:
  void Put32(size_t at, uint32_t value);
  void Sign();

  std::string bytes_;
};
