#include "support/HiveStructure.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace {

constexpr size_t kBase = 4096;

uint32_t U32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

uint16_t U16(const std::string& bytes, size_t at) {
  uint16_t value = 0;
  if (at + 2 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 2);
  return value;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// The cells of a hive's bins: offset (from the first bin) to size, with
// the sign the hive stores (negative: in use).
struct Cells {
  std::map<uint32_t, int32_t> sizes;
  std::string fault;
};

Cells ReadCells(const std::string& bytes) {
  Cells cells;
  if (bytes.size() < kBase || bytes.compare(0, 4, "regf") != 0) {
    cells.fault = "no base block";
    return cells;
  }
  const uint32_t bins = U32(bytes, 0x28);
  if (kBase + uint64_t{bins} > bytes.size()) cells.fault = "the bins pass the end of the file";
  for (uint32_t bin = 0; cells.fault.empty() && bin < bins;) {
    const uint32_t size = U32(bytes, kBase + bin + 8);
    if (bytes.compare(kBase + bin, 4, "hbin") != 0 || U32(bytes, kBase + bin + 4) != bin ||
        size == 0 || size % 4096 != 0 || uint64_t{bin} + size > bins) {
      cells.fault = "a bad bin at " + Hex(bin);
      break;
    }
    for (uint32_t cell = bin + 32; cell < bin + size;) {
      const int32_t stored = static_cast<int32_t>(U32(bytes, kBase + cell));
      const uint32_t length =
          stored < 0 ? static_cast<uint32_t>(-int64_t{stored}) : static_cast<uint32_t>(stored);
      if (length < 8 || length % 8 != 0 || uint64_t{cell} + length > uint64_t{bin} + size) {
        cells.fault = "a cell that does not fit its bin at " + Hex(cell);
        break;
      }
      cells.sizes[cell] = stored;
      cell += length;
    }
    bin += size;
  }
  return cells;
}

class Walk {
 public:
  Walk(const std::string& bytes, const Cells& cells) : bytes_(bytes), cells_(cells) {}

  // The payload of a cell in use of at least `least` bytes, or "".
  std::string Payload(uint32_t cell, size_t least) const {
    auto it = cells_.sizes.find(cell);
    if (it == cells_.sizes.end() || it->second >= 0) return {};
    const size_t size = static_cast<size_t>(-int64_t{it->second}) - 4;
    if (size < least) return {};
    return bytes_.substr(kBase + cell + 4, size);
  }

  bool Key(uint32_t cell, uint32_t parent, bool root, size_t depth) {
    if (depth > 512) return Fail("keys nest too deep at " + Hex(cell));
    if (!seen_.insert(cell).second) return Fail("a key reached twice at " + Hex(cell));
    const std::string nk = Payload(cell, 0x4C);
    if (nk.compare(0, 2, "nk") != 0) return Fail("no key record at " + Hex(cell));
    if (0x4C + size_t{U16(nk, 0x48)} > nk.size()) return Fail("a key name past its cell");
    if (!root && U32(nk, 0x10) != parent) return Fail("a key's parent is wrong at " + Hex(cell));
    const std::string sk = Payload(U32(nk, 0x2C), 0x14);
    if (sk.compare(0, 2, "sk") != 0) return Fail("no security record for " + Hex(cell));
    ++users_[U32(nk, 0x2C)];
    // The values, with their data.
    const uint32_t values = U32(nk, 0x24);
    if (values > 0) {
      const std::string list = Payload(U32(nk, 0x28), 4 * size_t{values});
      if (list.empty()) return Fail("a value list that is missing at " + Hex(cell));
      for (uint32_t i = 0; i < values; ++i) {
        const std::string vk = Payload(U32(list, 4 * i), 0x14);
        if (vk.compare(0, 2, "vk") != 0) return Fail("no value record below " + Hex(cell));
        const uint32_t size = U32(vk, 4);
        if (!(size & 0x80000000) && size > 0 && Payload(U32(vk, 8), size).empty()) {
          return Fail("value data that is missing below " + Hex(cell));
        }
      }
    }
    // The subkeys, through their lists.
    std::vector<uint32_t> subkeys;
    const uint32_t count = U32(nk, 0x14);
    if (count > 0 && !List(U32(nk, 0x1C), true, &subkeys)) {
      return Fail("a subkey list that cannot be read at " + Hex(cell));
    }
    if (subkeys.size() != count) return Fail("a subkey count that is wrong at " + Hex(cell));
    uint32_t longest = 0;
    for (uint32_t subkey : subkeys) {
      const std::string child = Payload(subkey, 0x4C);
      uint32_t length = U16(child, 0x48);
      if (!(U16(child, 0x02) & 0x20)) length /= 2;
      longest = std::max(longest, 2 * length);
      if (!Key(subkey, cell, false, depth + 1)) return false;
    }
    if ((U32(nk, 0x34) & 0xFFFF) < longest) return Fail("a longest name too short at " + Hex(cell));
    return true;
  }

  bool Security() {
    for (const auto& [cell, users] : users_) {
      const uint32_t count = U32(Payload(cell, 0x14), 0x0C);
      if (count != users) {
        return Fail("security record " + Hex(cell) + " counts " + std::to_string(count) +
                    " users, not " + std::to_string(users));
      }
    }
    return true;
  }

  std::string fault;

 private:
  bool Fail(const std::string& what) {
    if (fault.empty()) fault = what;
    return false;
  }
  bool List(uint32_t cell, bool top, std::vector<uint32_t>* keys) {
    const std::string list = Payload(cell, 4);
    if (list.empty()) return false;
    const std::string kind = list.substr(0, 2);
    const size_t count = U16(list, 2);
    const size_t stride = kind == "lf" || kind == "lh" ? 8 : 4;
    if (list.size() < 4 + stride * count) return false;
    for (size_t i = 0; i < count; ++i) {
      const uint32_t entry = U32(list, 4 + stride * i);
      if (kind == "ri") {
        if (!top || !List(entry, false, keys)) return false;
      } else if (kind == "lf" || kind == "lh" || kind == "li") {
        keys->push_back(entry);
      } else {
        return false;
      }
    }
    return true;
  }

  const std::string& bytes_;
  const Cells& cells_;
  std::set<uint32_t> seen_;
  std::map<uint32_t, uint32_t> users_;
};

}  // namespace

std::string CheckHiveStructure(const std::string& bytes) {
  const Cells cells = ReadCells(bytes);
  if (!cells.fault.empty()) return cells.fault;
  Walk walk(bytes, cells);
  if (walk.Key(U32(bytes, 0x24), 0, true, 0)) walk.Security();
  return walk.fault;
}

std::string UnexpectedlyChangedCells(const std::string& before, const std::string& after,
                                     bool valuesChanged) {
  const Cells old = ReadCells(before);
  if (!old.fault.empty()) return "before: " + old.fault;
  const Cells now = ReadCells(after);
  if (!now.fault.empty()) return "after: " + now.fault;
  for (const auto& [cell, stored] : old.sizes) {
    const size_t length = static_cast<size_t>(stored < 0 ? -int64_t{stored} : stored);
    const std::string was = before.substr(kBase + cell, length);
    const std::string is = after.substr(kBase + cell, length);
    if (was == is) continue;
    auto it = now.sizes.find(cell);
    if (it == now.sizes.end() || is.size() != length) return "a cell gone at " + Hex(cell);
    std::vector<bool> allowed(length, false);
    auto allow = [&](size_t at, size_t size) {
      for (size_t i = at; i < at + size && i < length; ++i) allowed[i] = true;
    };
    const std::string kind = was.substr(4, 2);
    const bool list = kind == "lf" || kind == "lh" || kind == "li" || kind == "ri";
    if (stored < 0 && it->second == -stored && (list || valuesChanged)) {
      allow(0, 4);  // freed
    } else if (stored < 0 && kind == "nk") {
      allow(4 + 0x04, 8);  // the time it was written
      allow(4 + 0x14, 4);  // the subkey count
      allow(4 + 0x1C, 4);  // the subkey list
      allow(4 + 0x34, 2);  // the longest subkey name
      if (valuesChanged) {
        allow(4 + 0x24, 8);  // the value count and list
        allow(4 + 0x3C, 8);  // the longest value name and data
      }
    } else if (stored < 0 && kind == "sk") {
      allow(4 + 0x0C, 4);  // its users
    }
    for (size_t i = 0; i < length; ++i) {
      if (was[i] != is[i] && !allowed[i]) {
        return "the cell at " + Hex(cell) + " (" + (stored < 0 ? kind : "free") +
               ") changed at byte " + std::to_string(i);
      }
    }
  }
  return "";
}
