#include "import/FileNameSet.h"

#include <cstring>

#include "platform/FileNameHash.h"

std::string_view FileNameSet::At(size_t slot) const {
  uint32_t size = 0;
  std::memcpy(&size, names_.data() + slot - 1, sizeof size);
  return std::string_view(names_).substr(slot - 1 + sizeof size, size);
}

size_t FileNameSet::Find(std::string_view name, uint64_t hash) const {
  size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
    if (slots_[i] == 0 || env_.CompareFileNames(At(slots_[i]), name) == 0) return i;
  }
}

bool FileNameSet::Contains(std::string_view name) const {
  return count_ != 0 && slots_[Find(name, FileNameHash(name))] != 0;
}

bool FileNameSet::Insert(std::string_view name) {
  if (slots_.empty() || 2 * (count_ + 1) > slots_.size()) Grow();
  size_t at = Find(name, FileNameHash(name));
  if (slots_[at] != 0) return false;
  uint32_t size = static_cast<uint32_t>(name.size());  // a name is far shorter
  slots_[at] = names_.size() + 1;
  names_.append(reinterpret_cast<const char*>(&size), sizeof size);
  names_.append(name);
  ++count_;
  return true;
}

void FileNameSet::Grow() {
  std::vector<size_t> old = std::move(slots_);
  slots_.assign(old.empty() ? 64 : 2 * old.size(), 0);
  for (size_t slot : old) {
    if (slot != 0) slots_[Find(At(slot), FileNameHash(At(slot)))] = slot;
  }
}

void FileNameSet::Clear() {
  names_.clear();
  slots_.clear();
  count_ = 0;
}
