#include "support/HiveLists.h"

#include <cstring>

#include "platform/portable/text/Text.h"

namespace {

constexpr size_t kBins = 4096;

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}

  bool U32(uint32_t cell, size_t at, uint32_t* value) const {
    size_t offset = kBins + size_t{cell} + at;
    if (offset + 4 > bytes_.size()) return false;
    std::memcpy(value, bytes_.data() + offset, 4);
    return true;
  }
  bool U16(uint32_t cell, size_t at, uint16_t* value) const {
    size_t offset = kBins + size_t{cell} + at;
    if (offset + 2 > bytes_.size()) return false;
    std::memcpy(value, bytes_.data() + offset, 2);
    return true;
  }
  std::string Bytes(uint32_t cell, size_t at, size_t size) const {
    size_t offset = kBins + size_t{cell} + at;
    if (offset + size > bytes_.size()) return {};
    return bytes_.substr(offset, size);
  }
  // A key node's name: single bytes (code page 1252's first 256 code
  // points) when flagged so, else UTF-16LE.
  bool Name(uint32_t nk, std::u16string* name) const {
    uint16_t flags = 0, size = 0;
    if (Bytes(nk, 4, 2) != "nk" || !U16(nk, 6, &flags) || !U16(nk, 0x4C, &size)) return false;
    std::string raw = Bytes(nk, 0x50, size);
    if (raw.size() != size) return false;
    name->clear();
    if (flags & 0x20) {
      for (char c : raw) name->push_back(static_cast<unsigned char>(c));
    } else {
      for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        name->push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                              static_cast<unsigned char>(raw[i + 1]) << 8));
      }
    }
    return true;
  }
  // The entries of a subkey list, through index roots.
  bool List(uint32_t cell, HiveSubkeyList* out, std::vector<uint32_t>* keys) const {
    std::string kind = Bytes(cell, 4, 2);
    uint16_t count = 0;
    if (!U16(cell, 6, &count)) return false;
    if (kind != "ri") ++out->leaves;
    for (uint16_t i = 0; i < count; ++i) {
      if (kind == "ri" || kind == "li") {
        // An index root lists lists; an index leaf lists keys, unhashed.
        uint32_t entry = 0;
        if (!U32(cell, 8 + 4 * size_t{i}, &entry)) return false;
        if (kind == "li") {
          keys->push_back(entry);
        } else if (!List(entry, out, keys)) {
          return false;
        }
        continue;
      }
      if (kind != "lf" && kind != "lh") return false;
      uint32_t entry = 0, hash = 0;
      if (!U32(cell, 8 + 8 * size_t{i}, &entry) || !U32(cell, 12 + 8 * size_t{i}, &hash)) {
        return false;
      }
      std::u16string name;
      if (!Name(entry, &name)) return false;
      out->hashesRight = out->hashesRight && hash == (kind == "lh" ? Lh(name) : Lf(name));
      keys->push_back(entry);
    }
    return true;
  }

 private:
  static uint32_t Lh(const std::u16string& name) {
    uint32_t hash = 0;
    for (char16_t unit : name) hash = hash * 37 + UnicodeUpperCase(unit);
    return hash;
  }
  static uint32_t Lf(const std::u16string& name) {
    uint32_t hash = 0;
    for (size_t i = 0; i < 4 && i < name.size(); ++i) {
      hash |= static_cast<uint32_t>(name[i] & 0xFF) << (8 * i);
    }
    return hash;
  }

  const std::string& bytes_;
};

}  // namespace

HiveSubkeyList ReadHiveSubkeyList(const std::string& bytes,
                                  const std::vector<std::u16string>& path) {
  HiveSubkeyList result;
  Reader reader(bytes);
  uint32_t key = 0;
  if (bytes.size() < kBins) return result;
  std::memcpy(&key, bytes.data() + 36, sizeof key);  // the root cell, from the base block
  for (size_t depth = 0;; ++depth) {
    uint32_t count = 0, list = 0;
    if (!reader.U32(key, 0x18, &count) || !reader.U32(key, 0x20, &list)) return result;
    HiveSubkeyList found;
    std::vector<uint32_t> keys;
    if (count > 0 && !reader.List(list, &found, &keys)) return result;
    for (uint32_t entry : keys) {
      std::u16string name;
      if (!reader.Name(entry, &name)) return result;
      found.names.push_back(name);
    }
    if (depth == path.size()) {
      found.readable = found.names.size() == count;
      return found;
    }
    bool next = false;
    for (size_t i = 0; i < keys.size() && !next; ++i) {
      next = SameUnicodeName(found.names[i], path[depth]);
      if (next) key = keys[i];
    }
    if (!next) return result;
  }
}
