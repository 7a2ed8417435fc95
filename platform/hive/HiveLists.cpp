#include "platform/hive/HiveLists.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/hive/HiveHeader.h"
#include "platform/portable/text/Text.h"

namespace {

// Reads and writes a hive file by cell, never outside it.
class CellFile {
 public:
  explicit CellFile(std::FILE* file) : file_(file) {
    if (fseeko(file_, 0, SEEK_END) == 0) size_ = static_cast<uint64_t>(ftello(file_));
  }
  bool Read(uint64_t at, size_t size, std::string* bytes) {
    if (at > size_ || size > size_ - at || fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0) {
      return false;
    }
    bytes->resize(size);
    return std::fread(bytes->data(), 1, size, file_) == size;
  }
  bool Write(uint64_t at, const std::string& bytes) {
    if (at > size_ || bytes.size() > size_ - at ||
        fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0) {
      return false;
    }
    return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  bool U32(uint64_t at, uint32_t* value) {
    std::string bytes;
    if (!Read(at, 4, &bytes)) return false;
    std::memcpy(value, bytes.data(), 4);
    return true;
  }
  // A cell's file offset from its offset in the hive bins.
  static uint64_t Cell(uint32_t offset) { return kHiveBaseBlockSize + uint64_t{offset}; }

 private:
  std::FILE* file_;
  uint64_t size_ = 0;
};

struct Entry {
  uint32_t key = 0;  // the subkey's cell
  std::u16string name;
  std::u16string order;  // the name upper-cased, as Windows compares it
};

struct Leaf {
  uint64_t at = 0;   // file offset of the list cell
  std::string kind;  // "lf", "lh" or "li"
  size_t count = 0;
};

bool KeyName(CellFile& file, uint32_t key, std::u16string* name) {
  std::string head;
  if (!file.Read(CellFile::Cell(key), 0x50, &head) || head.compare(4, 2, "nk") != 0) return false;
  uint16_t flags = 0, size = 0;
  std::memcpy(&flags, head.data() + 6, 2);
  std::memcpy(&size, head.data() + 0x4C, 2);
  std::string raw;
  if (!file.Read(CellFile::Cell(key) + 0x50, size, &raw)) return false;
  name->clear();
  if (flags & 0x20) {  // one byte per character, the first 256 code points
    for (char c : raw) name->push_back(static_cast<unsigned char>(c));
  } else {
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
      name->push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                            static_cast<unsigned char>(raw[i + 1]) << 8));
    }
  }
  return true;
}

// The leaves below a list cell, and their entries in order.
bool Collect(CellFile& file, uint32_t list, bool root, std::vector<Leaf>* leaves,
             std::vector<Entry>* entries) {
  std::string head;
  if (!file.Read(CellFile::Cell(list), 8, &head)) return false;
  std::string kind = head.substr(4, 2);
  uint16_t count = 0;
  std::memcpy(&count, head.data() + 6, 2);
  const bool hashed = kind == "lf" || kind == "lh";
  if (kind == "ri" && root) {
    for (uint16_t i = 0; i < count; ++i) {
      uint32_t leaf = 0;
      if (!file.U32(CellFile::Cell(list) + 8 + 4 * uint64_t{i}, &leaf) ||
          !Collect(file, leaf, false, leaves, entries)) {
        return false;
      }
    }
    return true;
  }
  if (!hashed && kind != "li") return false;
  const size_t stride = hashed ? 8 : 4;
  leaves->push_back({CellFile::Cell(list), kind, count});
  for (uint16_t i = 0; i < count; ++i) {
    Entry entry;
    if (!file.U32(CellFile::Cell(list) + 8 + stride * i, &entry.key) ||
        !KeyName(file, entry.key, &entry.name)) {
      return false;
    }
    entry.order = UnicodeNameKey(entry.name);
    // An lf list hashes the first four characters as single bytes.
    if (kind == "lf") {
      for (char16_t unit : entry.name) {
        if (unit > 0x7F) return false;
      }
    }
    entries->push_back(std::move(entry));
  }
  return true;
}

uint32_t LhHash(const std::u16string& name) {
  uint32_t hash = 0;
  for (char16_t unit : name) hash = hash * 37 + UnicodeUpperCase(unit);
  return hash;
}

uint32_t LfHash(const std::u16string& name) {
  uint32_t hash = 0;
  for (size_t i = 0; i < 4 && i < name.size(); ++i) hash |= uint32_t{name[i]} << (8 * i);
  return hash;
}

}  // namespace

bool SortHiveSubkeyLists(std::FILE* handle, uint64_t key) {
  CellFile file(handle);
  std::string head;
  if (!file.Read(key, 0x24, &head) || head.compare(4, 2, "nk") != 0) return false;
  uint32_t count = 0, list = 0;
  std::memcpy(&count, head.data() + 0x18, 4);
  std::memcpy(&list, head.data() + 0x20, 4);
  if (count == 0) return true;
  std::vector<Leaf> leaves;
  std::vector<Entry> entries;
  if (!Collect(file, list, true, &leaves, &entries) || entries.size() != count) return false;
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.order < b.order; });
  size_t next = 0;
  for (const Leaf& leaf : leaves) {
    std::string cells;
    for (size_t i = 0; i < leaf.count; ++i, ++next) {
      const Entry& entry = entries[next];
      cells.append(reinterpret_cast<const char*>(&entry.key), 4);
      if (leaf.kind == "li") continue;
      uint32_t hash = leaf.kind == "lh" ? LhHash(entry.name) : LfHash(entry.name);
      cells.append(reinterpret_cast<const char*>(&hash), 4);
    }
    if (!file.Write(leaf.at + 8, cells)) return false;
  }
  return std::fflush(handle) == 0;
}
