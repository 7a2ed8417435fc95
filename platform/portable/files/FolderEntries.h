// FolderEntries: the entries of one host folder, found by the machine's name
// in any letter case, in little more memory than the names themselves: the
// spool folder of a large installation holds hundreds of thousands.
//
// The entries lie one after another in one buffer; an open-addressing table
// of their offsets finds them by a hash that folds the letters A to Z and
// counts every byte above 0x7F as one, so that names equal under the
// machine's case rule (SameName) always meet. A removed entry leaves its
// bytes until the table is rebuilt. Offsets are 32 bits, which bounds a
// folder's entries to 4 GiB of names: Add refuses any beyond.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

enum class HostKind { kFile, kDirectory, kRefused };

struct HostEntry {
  std::string name;                    // as the machine sees it, in code page 1252
  std::filesystem::path host;          // as the host stores it
  HostKind kind = HostKind::kRefused;  // links, devices and the like are refused
};

class FolderEntries {
 public:
  // False, with nothing added, once the names fill 4 GiB.
  bool Add(const HostEntry& entry);
  // Removes the entry named `name` whose host name is `host`, if any.
  void Remove(std::string_view name, const std::filesystem::path& host);
  // The entries named `name` in any letter case.
  std::vector<HostEntry> Named(std::string_view name) const;
  std::vector<HostEntry> All() const;
  size_t size() const { return count_; }

 private:
  static constexpr uint32_t kEmpty = 0;
  static constexpr uint32_t kRemoved = 1;  // offsets are stored plus 2

  HostEntry At(uint32_t slot) const;
  std::string_view NameAt(uint32_t slot) const;
  // Puts the entry at `slot` (an offset plus 2) into the table.
  void Place(uint32_t slot, std::string_view name);
  void Rebuild(size_t slots);

  std::string bytes_;  // per entry: name size, host size (0: as HostName gives it), kind, bytes
  std::vector<uint32_t> slots_;
  size_t count_ = 0;
  size_t removed_ = 0;
};
