#include "platform/hive/HiveAppend.h"

#include <algorithm>
#include <chrono>

#include "platform/portable/text/Text.h"

namespace {

constexpr uint32_t kNoCell = 0xFFFFFFFF;
constexpr uint32_t kBinBytes = 4096;  // as Windows grows a hive, with larger bins for larger cells
constexpr uint32_t kBinHeaderBytes = 32;
// Cell offsets are 31-bit: no hive grows past this many bytes of bins.
constexpr uint64_t kMaxBinsBytes = 0x7FFFF000;
constexpr uint32_t kInlineData = 0x80000000;  // a value's data of up to 4 bytes, in its record
constexpr uint16_t kAsciiValueName = 0x0001;

uint64_t Round(uint64_t size, uint64_t unit) {
  return (size + unit - 1) / unit * unit;
}

bool Ascii(std::u16string_view name) {
  return std::all_of(name.begin(), name.end(), [](char16_t unit) { return unit < 0x80; });
}

// A name as a hive stores it: one byte per character when all are ASCII,
// UTF-16 otherwise; `ascii` says which.
std::string StoredName(std::u16string_view name, bool* ascii) {
  *ascii = Ascii(name);
  std::string bytes;
  for (char16_t unit : name) {
    bytes.push_back(static_cast<char>(unit));
    if (!*ascii) bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

uint64_t FileTimeNow() {
  using namespace std::chrono;
  auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<uint64_t>(since1970 / 100) + 116444736000000000ULL;
}

uint32_t LhHash(std::u16string_view name) {
  uint32_t hash = 0;
  for (char16_t unit : name) hash = hash * 37 + UnicodeUpperCase(unit);
  return hash;
}

// The lf hint: the first four characters, one byte each (ASCII names only).
uint32_t LfHint(std::u16string_view name) {
  uint32_t hint = 0;
  for (size_t i = 0; i < 4 && i < name.size(); ++i) hint |= uint32_t{name[i]} << (8 * i);
  return hint;
}

}  // namespace

HiveAppend::HiveAppend(HiveCells& cells, std::string block, const HiveHeader& header)
    : cells_(cells),
      block_(std::move(block)),
      hashedLeaves_(header.minorVersion >= 5),
      firstNew_(header.binsSize),
      binAt_(header.binsSize),
      written_(FileTimeNow()) {}

bool HiveAppend::Refuse(Hive::Refusal refusal) {
  refusal_ = refusal;
  return false;
}

uint32_t HiveAppend::Put(std::string_view payload) {
  const uint64_t size = Round(4 + payload.size(), 8);
  if (bin_.empty() || bin_.size() + size > binSize_) {
    if (!CloseBin()) return 0;
    uint64_t binSize = std::max<uint64_t>(kBinBytes, Round(kBinHeaderBytes + size, 4096));
    if (uint64_t{binAt_} + binSize > kMaxBinsBytes) {
      Refuse(Hive::Refusal::kHiveFull);
      return 0;
    }
    binSize_ = static_cast<uint32_t>(binSize);
    bin_.assign(kBinHeaderBytes, '\0');
  }
  const uint32_t cell = binAt_ + static_cast<uint32_t>(bin_.size());
  const size_t at = bin_.size();
  bin_.resize(at + size, '\0');
  StoreU32(&bin_, at, static_cast<uint32_t>(-static_cast<int32_t>(size)));  // in use
  bin_.replace(at + 4, payload.size(), payload);
  return cell;
}

bool HiveAppend::CloseBin() {
  if (bin_.empty()) return true;
  const size_t rest = binSize_ - bin_.size();
  if (rest > 0) {  // the rest of the bin is one free cell
    const size_t at = bin_.size();
    bin_.resize(binSize_, '\0');
    StoreU32(&bin_, at, static_cast<uint32_t>(rest));
  }
  bin_.replace(0, 4, "hbin");
  StoreU32(&bin_, 4, binAt_);
  StoreU32(&bin_, 8, binSize_);
  if (cells_.Size() != HiveCells::FileOffset(binAt_) || !cells_.Append(bin_)) {
    return Refuse(Hive::Refusal::kWriteFailed);
  }
  binAt_ += binSize_;
  bin_.clear();
  return true;
}

bool HiveAppend::Fetch(uint32_t cell, size_t least, std::string* payload) {
  if (bin_.empty() || cell < binAt_) return cells_.Cell(cell, least, payload);
  const size_t at = cell - binAt_;
  if (at + 4 > bin_.size()) return false;
  const int32_t used = static_cast<int32_t>(LoadU32(bin_, at));
  if (used >= 0 || used == INT32_MIN) return false;
  const size_t size = static_cast<size_t>(-static_cast<int64_t>(used));
  if (size < 4 + least || at + size > bin_.size()) return false;
  *payload = bin_.substr(at + 4, size - 4);
  return true;
}

bool HiveAppend::Patch(uint32_t cell, size_t at, std::string_view bytes) {
  if (bin_.empty() || cell < binAt_) {
    return cells_.Write(HiveCells::FileOffset(cell) + 4 + at, bytes);
  }
  const size_t in = cell - binAt_ + 4 + at;
  if (in + bytes.size() > bin_.size()) return false;
  bin_.replace(in, bytes.size(), bytes);
  return true;
}

bool HiveAppend::PutValues(const std::vector<HiveValue>& values, uint32_t* list) {
  *list = kNoCell;
  if (values.empty()) return true;
  std::string offsets(4 * values.size(), '\0');
  for (size_t i = 0; i < values.size(); ++i) {
    const HiveValue& value = values[i];
    bool ascii = false;
    std::string name = StoredName(value.name, &ascii);
    std::string vk(20, '\0');
    vk.replace(0, 2, "vk");
    StoreU16(&vk, 2, static_cast<uint16_t>(name.size()));
    const uint32_t size = static_cast<uint32_t>(value.data.size());
    if (size <= 4) {
      StoreU32(&vk, 4, size | kInlineData);
      vk.replace(8, size, value.data);
    } else {
      uint32_t data = Put(value.data);
      if (data == 0) return false;
      StoreU32(&vk, 4, size);
      StoreU32(&vk, 8, data);
    }
    StoreU32(&vk, 12, value.type);
    StoreU16(&vk, 16, ascii ? kAsciiValueName : 0);
    uint32_t cell = Put(vk + name);
    if (cell == 0) return false;
    StoreU32(&offsets, 4 * i, cell);
  }
  *list = Put(offsets);
  return *list != 0;
}

bool HiveAppend::AddKey(Hive::Node parent, std::u16string_view name,
                        const std::vector<HiveValue>& values, Hive::Node* key) {
  using namespace hive_key;
  Hive::Refusal refusal = Hive::CheckKeyName(name);
  if (refusal == Hive::Refusal::kNone) refusal = Hive::CheckValues(values);
  if (refusal != Hive::Refusal::kNone) return Refuse(refusal);
  if (parent < kHiveBaseBlockSize || parent - kHiveBaseBlockSize >= kMaxBinsBytes) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  const uint32_t parentCell = static_cast<uint32_t>(parent - kHiveBaseBlockSize);
  auto it = parents_.find(parentCell);
  if (it == parents_.end()) {
    std::string nk;
    if (!Fetch(parentCell, kName, &nk) || nk.compare(0, 2, "nk") != 0) {
      return Refuse(Hive::Refusal::kMalformed);
    }
    it = parents_.emplace(parentCell, Parent{LoadU32(nk, kSecurity), {}}).first;
  }
  uint32_t valueList = kNoCell;
  if (!PutValues(values, &valueList)) return false;

  bool ascii = false;
  const std::string stored = StoredName(name, &ascii);
  std::string nk(kName, '\0');
  nk.replace(0, 2, "nk");
  StoreU16(&nk, kFlags, ascii ? kAsciiName : 0);
  StoreU32(&nk, kWritten, static_cast<uint32_t>(written_));
  StoreU32(&nk, kWritten + 4, static_cast<uint32_t>(written_ >> 32));
  StoreU32(&nk, kParent, parentCell);
  StoreU32(&nk, kSubkeyList, kNoCell);
  StoreU32(&nk, kVolatileList, kNoCell);
  StoreU32(&nk, kValueCount, static_cast<uint32_t>(values.size()));
  StoreU32(&nk, kValueList, valueList);
  StoreU32(&nk, kSecurity, it->second.security);
  StoreU32(&nk, kClass, kNoCell);
  uint32_t maxName = 0, maxData = 0;
  for (const HiveValue& value : values) {
    maxName = std::max(maxName, static_cast<uint32_t>(2 * value.name.size()));
    maxData = std::max(maxData, static_cast<uint32_t>(value.data.size()));
  }
  StoreU32(&nk, kMaxValueName, maxName);
  StoreU32(&nk, kMaxValueData, maxData);
  StoreU16(&nk, kNameLength, static_cast<uint16_t>(stored.size()));
  const uint32_t cell = Put(nk + stored);
  if (cell == 0) return false;
  it->second.added.push_back({cell, std::u16string(name)});
  ++securityUsers_[it->second.security];
  *key = HiveCells::FileOffset(cell);
  return true;
}

bool HiveAppend::FreeCell(uint32_t cell) {
  std::string size;
  if (!cells_.Read(HiveCells::FileOffset(cell), 4, &size)) return false;
  int32_t used = static_cast<int32_t>(LoadU32(size, 0));
  if (used >= 0 || used == INT32_MIN) return false;
  StoreU32(&size, 0, static_cast<uint32_t>(-used));
  return cells_.Write(HiveCells::FileOffset(cell), size);
}

bool HiveAppend::LayList(uint32_t parent, Parent& pending) {
  using namespace hive_key;
  std::string nk;
  if (!Fetch(parent, kName, &nk)) return Refuse(Hive::Refusal::kMalformed);
  std::vector<HiveSubkeyEntry> entries = std::move(pending.added);
  const size_t added = entries.size();
  std::vector<uint32_t> oldCells;
  const uint32_t count = LoadU32(nk, kSubkeyCount);
  if (count > 0 && (!ReadHiveSubkeyList(cells_, LoadU32(nk, kSubkeyList), &entries, &oldCells) ||
                    entries.size() - added != count)) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  if (entries.size() > size_t{0xFFFF} * kLeafEntries) return Refuse(Hive::Refusal::kHiveFull);

  std::vector<std::pair<std::u16string, size_t>> order;
  order.reserve(entries.size());
  uint32_t maxName = LoadU32(nk, kMaxNameBytes);
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::u16string& name = entries[i].name;
    if (!hashedLeaves_ && !Ascii(name)) return Refuse(Hive::Refusal::kOldHiveName);
    order.emplace_back(UnicodeNameKey(name), i);
    uint32_t bytes = static_cast<uint32_t>(2 * name.size());
    if (bytes > (maxName & 0xFFFF)) maxName = (maxName & 0xFFFF0000) | bytes;
  }
  std::sort(order.begin(), order.end());
  for (size_t i = 1; i < order.size(); ++i) {
    if (order[i].first == order[i - 1].first) return Refuse(Hive::Refusal::kBadName);
  }

  std::string leaves;  // the leaves' cells, for an index root
  for (size_t first = 0; first < order.size(); first += kLeafEntries) {
    const size_t n = std::min(kLeafEntries, order.size() - first);
    std::string leaf(4 + 8 * n, '\0');
    leaf.replace(0, 2, hashedLeaves_ ? "lh" : "lf");
    StoreU16(&leaf, 2, static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; ++i) {
      const HiveSubkeyEntry& entry = entries[order[first + i].second];
      StoreU32(&leaf, 4 + 8 * i, entry.cell);
      StoreU32(&leaf, 8 + 8 * i, hashedLeaves_ ? LhHash(entry.name) : LfHint(entry.name));
    }
    uint32_t cell = Put(leaf);
    if (cell == 0) return false;
    leaves.append(4, '\0');
    StoreU32(&leaves, leaves.size() - 4, cell);
  }
  uint32_t list = LoadU32(leaves, 0);
  if (leaves.size() > 4) {
    std::string root = "ri" + std::string(2, '\0') + leaves;
    StoreU16(&root, 2, static_cast<uint16_t>(leaves.size() / 4));
    list = Put(root);
    if (list == 0) return false;
  }

  std::string fields(4, '\0');
  auto patch = [&](size_t at, uint32_t value) {
    StoreU32(&fields, 0, value);
    return Patch(parent, at, fields);
  };
  bool patched = patch(kSubkeyCount, static_cast<uint32_t>(entries.size())) &&
                 patch(kSubkeyList, list) && patch(kMaxNameBytes, maxName);
  if (patched && parent < firstNew_) {
    patched = patch(kWritten, static_cast<uint32_t>(written_)) &&
              patch(kWritten + 4, static_cast<uint32_t>(written_ >> 32));
  }
  for (uint32_t old : oldCells) patched = patched && FreeCell(old);
  return patched || Refuse(Hive::Refusal::kWriteFailed);
}

bool HiveAppend::Finish() {
  if (parents_.empty()) return true;
  for (auto& [cell, parent] : parents_) {
    if (!LayList(cell, parent)) return false;
  }
  for (const auto& [cell, users] : securityUsers_) {
    std::string sk;
    if (!Fetch(cell, 0x14, &sk) || sk.compare(0, 2, "sk") != 0) {
      return Refuse(Hive::Refusal::kMalformed);
    }
    constexpr size_t kUsers = 0x0C;  // a security record's count of the keys using it
    const uint32_t count = LoadU32(sk, kUsers);
    if (count > UINT32_MAX - users) return Refuse(Hive::Refusal::kMalformed);
    std::string bytes(4, '\0');
    StoreU32(&bytes, 0, count + users);
    if (!Patch(cell, kUsers, bytes)) return Refuse(Hive::Refusal::kWriteFailed);
  }
  if (!CloseBin()) return false;
  StoreU32(&block_, hive_base::kWritten, static_cast<uint32_t>(written_));
  StoreU32(&block_, hive_base::kWritten + 4, static_cast<uint32_t>(written_ >> 32));
  StoreU32(&block_, hive_base::kBinsSize, binAt_);
  StoreU32(&block_, hive_base::kChecksum, HiveHeaderChecksum(block_));
  return (cells_.Write(0, block_) && cells_.Flush()) || Refuse(Hive::Refusal::kWriteFailed);
}
