#include "platform/hive/HiveEdit.h"

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
constexpr uint16_t kCompactValueName = 0x0001;
constexpr size_t kBigDataMinor = 4;  // hives from version 1.4 on keep large data in pieces
// Fields of a security record (sk): the neighbours in the hive's ring of
// records, and the count of the keys using it.
constexpr size_t kSecurityNext = 0x04, kSecurityPrevious = 0x08, kSecurityUsers = 0x0C;

uint64_t Round(uint64_t size, uint64_t unit) {
  return (size + unit - 1) / unit * unit;
}

bool Latin1(std::u16string_view name) {
  return std::all_of(name.begin(), name.end(), [](char16_t unit) { return unit <= 0xFF; });
}

// A name as a hive stores it: one byte per character when all are up to
// U+00FF, UTF-16 otherwise; `compact` says which.
std::string StoredName(std::u16string_view name, bool* compact) {
  *compact = Latin1(name);
  std::string bytes;
  for (char16_t unit : name) {
    bytes.push_back(static_cast<char>(unit));
    if (!*compact) bytes.push_back(static_cast<char>(unit >> 8));
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

// The lf hint: the first four characters, one byte each.
uint32_t LfHint(std::u16string_view name) {
  uint32_t hint = 0;
  for (size_t i = 0; i < 4 && i < name.size(); ++i) hint |= uint32_t{name[i] & 0xFFu} << (8 * i);
  return hint;
}

std::string U32(uint32_t value) {
  std::string bytes(4, '\0');
  StoreU32(&bytes, 0, value);
  return bytes;
}

}  // namespace

bool HiveEdit::CanHoldName(uint32_t minorVersion, std::u16string_view name) {
  return minorVersion >= 5 || Latin1(name);
}

HiveEdit::HiveEdit(HiveCells& cells, std::string block, const HiveHeader& header)
    : cells_(cells),
      block_(std::move(block)),
      hashedLeaves_(header.minorVersion >= 5),
      minorVersion_(header.minorVersion),
      firstNew_(header.binsSize),
      fileEnd_(cells.Size()),
      binAt_(header.binsSize),
      written_(FileTimeNow()) {}

bool HiveEdit::Refuse(Hive::Refusal refusal) {
  refusal_ = refusal;
  return false;
}

HiveEdit::Parent* HiveEdit::ParentAt(uint32_t cell) {
  auto it = parents_.find(cell);
  if (it != parents_.end()) return &it->second;
  std::string nk;
  if (!Fetch(cell, hive_key::kName, &nk) || nk.compare(0, 2, "nk") != 0) {
    Refuse(Hive::Refusal::kMalformed);
    return nullptr;
  }
  return &parents_.emplace(cell, Parent{LoadU32(nk, hive_key::kSecurity), {}, {}}).first->second;
}

uint32_t HiveEdit::Put(std::string_view payload) {
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

bool HiveEdit::CloseBin() {
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
  if (!cells_.Write(HiveCells::FileOffset(binAt_), bin_)) {
    return Refuse(Hive::Refusal::kWriteFailed);
  }
  binAt_ += binSize_;
  bin_.clear();
  return true;
}

bool HiveEdit::Fetch(uint32_t cell, size_t least, std::string* payload) {
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

bool HiveEdit::Patch(uint32_t cell, size_t at, std::string_view bytes) {
  if (bin_.empty() || cell < binAt_) {
    return cells_.Write(HiveCells::FileOffset(cell) + 4 + at, bytes);
  }
  const size_t in = cell - binAt_ + 4 + at;
  if (in + bytes.size() > bin_.size()) return false;
  bin_.replace(in, bytes.size(), bytes);
  return true;
}

bool HiveEdit::PutValues(const std::vector<HiveValue>& values, uint32_t* list) {
  *list = kNoCell;
  if (values.empty()) return true;
  std::string offsets(4 * values.size(), '\0');
  for (size_t i = 0; i < values.size(); ++i) {
    const HiveValue& value = values[i];
    bool compact = false;
    std::string name = StoredName(value.name, &compact);
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
    StoreU16(&vk, 16, compact ? kCompactValueName : 0);
    uint32_t cell = Put(vk + name);
    if (cell == 0) return false;
    StoreU32(&offsets, 4 * i, cell);
  }
  *list = Put(offsets);
  return *list != 0;
}

bool HiveEdit::AddKey(Hive::Node parent, std::u16string_view name,
                      const std::vector<HiveValue>& values, Hive::Node* key) {
  using namespace hive_key;
  Hive::Refusal refusal = Hive::CheckKeyName(name);
  if (refusal == Hive::Refusal::kNone) refusal = Hive::CheckValues(values);
  if (refusal != Hive::Refusal::kNone) return Refuse(refusal);
  if (!CanHoldName(minorVersion_, name)) return Refuse(Hive::Refusal::kOldHiveName);
  if (parent < kHiveBaseBlockSize || parent - kHiveBaseBlockSize >= kMaxBinsBytes) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  const uint32_t parentCell = static_cast<uint32_t>(parent - kHiveBaseBlockSize);
  Parent* pending = ParentAt(parentCell);
  if (pending == nullptr) return false;
  uint32_t valueList = kNoCell;
  if (!PutValues(values, &valueList)) return false;

  bool compact = false;
  const std::string stored = StoredName(name, &compact);
  std::string nk(kName, '\0');
  nk.replace(0, 2, "nk");
  StoreU16(&nk, kFlags, compact ? kAsciiName : 0);
  StoreU32(&nk, kWritten, static_cast<uint32_t>(written_));
  StoreU32(&nk, kWritten + 4, static_cast<uint32_t>(written_ >> 32));
  StoreU32(&nk, kParent, parentCell);
  StoreU32(&nk, kSubkeyList, kNoCell);
  StoreU32(&nk, kVolatileList, kNoCell);
  StoreU32(&nk, kValueCount, static_cast<uint32_t>(values.size()));
  StoreU32(&nk, kValueList, valueList);
  StoreU32(&nk, kSecurity, pending->security);
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
  pending->added.push_back({cell, std::u16string(name)});
  ++securityUsers_[pending->security];
  *key = HiveCells::FileOffset(cell);
  return true;
}

bool HiveEdit::CollectKeyCells(uint32_t cell, const std::string& nk, std::vector<uint32_t>* cells) {
  using namespace hive_key;
  cells->push_back(cell);
  if (LoadU32(nk, kClass) != kNoCell) cells->push_back(LoadU32(nk, kClass));
  const uint32_t count = LoadU32(nk, kValueCount);
  if (count == 0) return true;
  std::string list, vk, db, segments;
  const uint32_t listCell = LoadU32(nk, kValueList);
  if (count > 0x40000 || !cells_.Cell(listCell, 4 * size_t{count}, &list)) return false;
  cells->push_back(listCell);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t value = LoadU32(list, 4 * i);
    if (!cells_.Cell(value, 0x14, &vk) || vk.compare(0, 2, "vk") != 0) return false;
    cells->push_back(value);
    const uint32_t size = LoadU32(vk, 4), data = LoadU32(vk, 8);
    if ((size & kInlineData) != 0 || size == 0) continue;
    if (size <= Hive::kMaxValueBytes || minorVersion_ < kBigDataMinor) {
      cells->push_back(data);
      continue;
    }
    // Large data lies in pieces: a db record names a list of segments.
    if (!cells_.Cell(data, 8, &db) || db.compare(0, 2, "db") != 0) return false;
    const uint16_t pieces = LoadU16(db, 2);
    const uint32_t segmentList = LoadU32(db, 4);
    if (!cells_.Cell(segmentList, 4 * size_t{pieces}, &segments)) return false;
    cells->push_back(data);
    cells->push_back(segmentList);
    for (uint16_t j = 0; j < pieces; ++j) cells->push_back(LoadU32(segments, 4 * j));
  }
  return true;
}

bool HiveEdit::DeleteKey(Hive::Node parent, Hive::Node key) {
  using namespace hive_key;
  if (parent < kHiveBaseBlockSize || key < kHiveBaseBlockSize ||
      key - kHiveBaseBlockSize >= firstNew_ || parent - kHiveBaseBlockSize >= firstNew_) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  Parent* pending = ParentAt(static_cast<uint32_t>(parent - kHiveBaseBlockSize));
  if (pending == nullptr) return false;
  const uint32_t top = static_cast<uint32_t>(key - kHiveBaseBlockSize);
  pending->deleted.insert(top);
  std::vector<uint32_t> keys = {top};
  std::vector<HiveSubkeyEntry> subkeys;
  std::string nk;
  while (!keys.empty()) {
    const uint32_t cell = keys.back();
    keys.pop_back();
    // A key met twice (a list that leads back up) is no tree.
    if (!goingKeys_.insert(cell).second || !cells_.Cell(cell, kName, &nk) ||
        nk.compare(0, 2, "nk") != 0 || !CollectKeyCells(cell, nk, &toFree_)) {
      return Refuse(Hive::Refusal::kMalformed);
    }
    --securityUsers_[LoadU32(nk, kSecurity)];
    if (LoadU32(nk, kSubkeyCount) == 0) continue;
    subkeys.clear();
    if (!ReadHiveSubkeyList(cells_, LoadU32(nk, kSubkeyList), &subkeys, &toFree_)) {
      return Refuse(Hive::Refusal::kMalformed);
    }
    for (const HiveSubkeyEntry& entry : subkeys) keys.push_back(entry.cell);
  }
  return true;
}

bool HiveEdit::Touch(Hive::Node key) {
  if (key < kHiveBaseBlockSize || key - kHiveBaseBlockSize >= firstNew_) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  const uint32_t cell = static_cast<uint32_t>(key - kHiveBaseBlockSize);
  std::string nk;
  if (!Fetch(cell, hive_key::kName, &nk) || nk.compare(0, 2, "nk") != 0) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  const uint64_t time = written_;
  return Patch(cell, hive_key::kWritten, U32(static_cast<uint32_t>(time)) + U32(time >> 32)) ||
         Refuse(Hive::Refusal::kWriteFailed);
}

bool HiveEdit::FreeCell(uint32_t cell) {
  std::string size;
  if (!cells_.Read(HiveCells::FileOffset(cell), 4, &size)) return false;
  int32_t used = static_cast<int32_t>(LoadU32(size, 0));
  if (used >= 0 || used == INT32_MIN) return false;
  StoreU32(&size, 0, static_cast<uint32_t>(-used));
  return cells_.Write(HiveCells::FileOffset(cell), size);
}

bool HiveEdit::LayList(uint32_t parent, Parent& pending) {
  using namespace hive_key;
  std::string nk;
  if (goingKeys_.count(parent) != 0 || !Fetch(parent, kName, &nk)) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  std::vector<HiveSubkeyEntry> old, entries = std::move(pending.added);
  std::vector<uint32_t> oldCells;
  const uint32_t count = LoadU32(nk, kSubkeyCount);
  if (count > 0 && (!ReadHiveSubkeyList(cells_, LoadU32(nk, kSubkeyList), &old, &oldCells) ||
                    old.size() != count)) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  size_t dropped = 0;
  for (HiveSubkeyEntry& entry : old) {
    if (pending.deleted.count(entry.cell) != 0) {
      ++dropped;
    } else {
      entries.push_back(std::move(entry));
    }
  }
  if (dropped != pending.deleted.size()) return Refuse(Hive::Refusal::kMalformed);
  if (entries.size() > size_t{0xFFFF} * kLeafEntries) return Refuse(Hive::Refusal::kHiveFull);

  std::vector<std::pair<std::u16string, size_t>> order;
  order.reserve(entries.size());
  uint32_t maxName = LoadU32(nk, kMaxNameBytes);
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::u16string& name = entries[i].name;
    if (!CanHoldName(minorVersion_, name)) return Refuse(Hive::Refusal::kOldHiveName);
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
    leaves += U32(cell);
  }
  uint32_t list = leaves.empty() ? kNoCell : LoadU32(leaves, 0);
  if (leaves.size() > 4) {
    std::string root = "ri" + std::string(2, '\0') + leaves;
    StoreU16(&root, 2, static_cast<uint16_t>(leaves.size() / 4));
    list = Put(root);
    if (list == 0) return false;
  }

  bool patched = Patch(parent, kSubkeyCount, U32(static_cast<uint32_t>(entries.size()))) &&
                 Patch(parent, kSubkeyList, U32(list)) &&
                 Patch(parent, kMaxNameBytes, U32(maxName));
  if (patched && parent < firstNew_) {
    patched = Patch(parent, kWritten, U32(static_cast<uint32_t>(written_)) + U32(written_ >> 32));
  }
  for (uint32_t old : oldCells) patched = patched && FreeCell(old);
  return patched || Refuse(Hive::Refusal::kWriteFailed);
}

bool HiveEdit::UpdateSecurity(uint32_t cell, int64_t users) {
  std::string sk;
  if (!Fetch(cell, 0x14, &sk) || sk.compare(0, 2, "sk") != 0) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  const int64_t count = int64_t{LoadU32(sk, kSecurityUsers)} + users;
  if (count < 0 || count > UINT32_MAX) return Refuse(Hive::Refusal::kMalformed);
  if (count > 0) {
    return Patch(cell, kSecurityUsers, U32(static_cast<uint32_t>(count))) ||
           Refuse(Hive::Refusal::kWriteFailed);
  }
  // No key uses the record any more: it leaves the ring of records. A key
  // that stays and still uses it shows its count was wrong.
  for (const auto& [unused, parent] : parents_) {
    if (parent.security == cell) return Refuse(Hive::Refusal::kMalformed);
  }
  const uint32_t next = LoadU32(sk, kSecurityNext), previous = LoadU32(sk, kSecurityPrevious);
  std::string neighbour;
  if (next != cell && (!Fetch(next, 0x14, &neighbour) || !Fetch(previous, 0x14, &neighbour))) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  bool unlinked = next == cell || (Patch(previous, kSecurityNext, U32(next)) &&
                                   Patch(next, kSecurityPrevious, U32(previous)));
  return (unlinked && FreeCell(cell)) || Refuse(Hive::Refusal::kWriteFailed);
}

bool HiveEdit::Finish() {
  for (auto& [cell, parent] : parents_) {
    if (!LayList(cell, parent)) return false;
  }
  for (const auto& [cell, users] : securityUsers_) {
    if (users != 0 && !UpdateSecurity(cell, users)) return false;
  }
  // The deleted keys' cells go last: the lists above were read through
  // them. A cell that two keys claim is no cell of a sound hive.
  std::sort(toFree_.begin(), toFree_.end());
  if (std::adjacent_find(toFree_.begin(), toFree_.end()) != toFree_.end()) {
    return Refuse(Hive::Refusal::kMalformed);
  }
  for (uint32_t cell : toFree_) {
    if (!FreeCell(cell)) return Refuse(Hive::Refusal::kMalformed);
  }
  if (!CloseBin()) return false;
  // What the file held after its last bin is free space now.
  const std::string zeros(kBinBytes, '\0');
  for (uint64_t at = HiveCells::FileOffset(binAt_); at < fileEnd_; at += zeros.size()) {
    if (!cells_.Write(at, std::string_view(zeros).substr(0, fileEnd_ - at))) {
      return Refuse(Hive::Refusal::kWriteFailed);
    }
  }
  StoreU32(&block_, hive_base::kWritten, static_cast<uint32_t>(written_));
  StoreU32(&block_, hive_base::kWritten + 4, static_cast<uint32_t>(written_ >> 32));
  StoreU32(&block_, hive_base::kBinsSize, binAt_);
  StoreU32(&block_, hive_base::kChecksum, HiveHeaderChecksum(block_));
  return (cells_.Write(0, block_) && cells_.Flush()) || Refuse(Hive::Refusal::kWriteFailed);
}
