#include "platform/portable/files/FolderEntries.h"

#include <algorithm>
#include <cstring>

#include "platform/FileNameHash.h"
#include "platform/portable/files/FolderIndex.h"
#include "platform/portable/text/Text.h"

namespace fs = std::filesystem;

namespace {

void Put32(size_t n, std::string* out) {
  uint32_t value = static_cast<uint32_t>(n);
  out->append(reinterpret_cast<const char*>(&value), sizeof value);
}

uint32_t Get32(const char* at) {
  uint32_t value = 0;
  std::memcpy(&value, at, sizeof value);
  return value;
}

std::string HostBytes(const fs::path& host) {
  std::u8string text = host.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::string_view FolderEntries::NameAt(uint32_t slot) const {
  const char* at = bytes_.data() + slot - 2;
  return std::string_view(at + 9, Get32(at));
}

HostEntry FolderEntries::At(uint32_t slot) const {
  const char* at = bytes_.data() + slot - 2;
  uint32_t nameSize = Get32(at), hostSize = Get32(at + 4);
  HostEntry entry;
  entry.name.assign(at + 9, nameSize);
  entry.kind = static_cast<HostKind>(at[8]);
  if (hostSize == 0) {
    entry.host = HostName(entry.name);
  } else {
    const char* host = at + 9 + nameSize;
    entry.host = fs::path(std::u8string(host, host + hostSize));
  }
  return entry;
}

bool FolderEntries::Add(const HostEntry& entry) {
  std::string host = HostBytes(entry.host);
  bool plain = host == HostBytes(HostName(entry.name));
  size_t size = 9 + entry.name.size() + (plain ? 0 : host.size());
  if (bytes_.size() + size > UINT32_MAX - 2) return false;
  // At most half the slots in use, so that a probe for a name not there
  // stays short.
  if (2 * (count_ + removed_ + 1) > slots_.size()) {
    size_t slots = 16;
    while (slots < 2 * (count_ + 1)) slots *= 2;
    Rebuild(slots);
  }
  size_t offset = bytes_.size();
  Put32(entry.name.size(), &bytes_);
  Put32(plain ? 0 : host.size(), &bytes_);
  bytes_.push_back(static_cast<char>(entry.kind));
  bytes_ += entry.name;
  if (!plain) bytes_ += host;
  Place(static_cast<uint32_t>(offset + 2), entry.name);
  ++count_;
  return true;
}

void FolderEntries::Place(uint32_t slot, std::string_view name) {
  size_t mask = slots_.size() - 1;
  size_t i = static_cast<size_t>(FileNameHash(name)) & mask;
  while (slots_[i] != kEmpty) i = (i + 1) & mask;  // a removed slot stays a link
  slots_[i] = slot;
}

void FolderEntries::Remove(std::string_view name, const fs::path& host) {
  if (slots_.empty()) return;
  size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(FileNameHash(name)) & mask; slots_[i] != kEmpty;
       i = (i + 1) & mask) {
    if (slots_[i] != kRemoved && SameName(NameAt(slots_[i]), name) && At(slots_[i]).host == host) {
      slots_[i] = kRemoved;
      --count_;
      ++removed_;
      return;
    }
  }
}

std::vector<HostEntry> FolderEntries::Named(std::string_view name) const {
  std::vector<HostEntry> found;
  if (slots_.empty()) return found;
  size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(FileNameHash(name)) & mask; slots_[i] != kEmpty;
       i = (i + 1) & mask) {
    if (slots_[i] != kRemoved && SameName(NameAt(slots_[i]), name)) found.push_back(At(slots_[i]));
  }
  return found;
}

std::vector<HostEntry> FolderEntries::All() const {
  std::vector<HostEntry> all;
  all.reserve(count_);
  for (uint32_t slot : slots_) {
    if (slot != kEmpty && slot != kRemoved) all.push_back(At(slot));
  }
  return all;
}

void FolderEntries::Rebuild(size_t slots) {
  std::vector<uint32_t> old = std::move(slots_);
  slots_.assign(slots, kEmpty);
  removed_ = 0;
  // Without removed entries the buffer stays; otherwise only the live
  // records are carried over into a new one.
  std::string kept;
  bool compact = std::any_of(old.begin(), old.end(), [](uint32_t s) { return s == kRemoved; });
  for (uint32_t slot : old) {
    if (slot == kEmpty || slot == kRemoved) continue;
    std::string_view name = NameAt(slot);
    if (!compact) {
      Place(slot, name);
      continue;
    }
    const char* at = bytes_.data() + slot - 2;
    size_t size = 9 + Get32(at) + Get32(at + 4);
    size_t offset = kept.size();
    kept.append(at, size);
    Place(static_cast<uint32_t>(offset + 2),
          std::string_view(kept).substr(offset + 9, name.size()));
  }
  if (compact) bytes_ = std::move(kept);
}
