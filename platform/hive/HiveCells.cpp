#include "platform/hive/HiveCells.h"

#include <sys/types.h>

#include <algorithm>

namespace {

// A list larger than this is no list the program wrote or Windows would.
constexpr size_t kMaxCellBytes = 1 << 20;

}  // namespace

HiveCells::HiveCells(std::FILE* file) : file_(file) {
  if (fseeko(file_, 0, SEEK_END) == 0) {
    off_t end = ftello(file_);
    if (end > 0) size_ = static_cast<uint64_t>(end);
  }
}

bool HiveCells::Read(uint64_t at, size_t size, std::string* bytes) {
  if (at > size_ || size > size_ - at || fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0) {
    return false;
  }
  bytes->resize(size);
  return std::fread(bytes->data(), 1, size, file_) == size;
}

bool HiveCells::Write(uint64_t at, std::string_view bytes) {
  if (at > size_ || fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0 ||
      std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    return false;
  }
  size_ = std::max<uint64_t>(size_, at + bytes.size());
  return true;
}

bool HiveCells::Flush() {
  return std::fflush(file_) == 0;
}

bool HiveCells::Cell(uint32_t cell, size_t least, std::string* payload) {
  std::string head;
  if (!Read(FileOffset(cell), 4, &head)) return false;
  int32_t size = static_cast<int32_t>(LoadU32(head, 0));
  if (size >= 0 || size == INT32_MIN) return false;  // free, or no size at all
  size_t bytes = static_cast<size_t>(-static_cast<int64_t>(size));
  if (bytes < 4 + least || bytes > kMaxCellBytes) return false;
  return Read(FileOffset(cell) + 4, bytes - 4, payload);
}

bool ReadHiveKeyName(HiveCells& cells, uint32_t key, std::u16string* name) {
  std::string nk;
  if (!cells.Cell(key, hive_key::kName, &nk) || nk.compare(0, 2, "nk") != 0) return false;
  size_t length = LoadU16(nk, hive_key::kNameLength);
  if (length > nk.size() - hive_key::kName) return false;
  std::string_view raw(nk.data() + hive_key::kName, length);
  name->clear();
  if (LoadU16(nk, hive_key::kFlags) & hive_key::kAsciiName) {
    for (char c : raw) name->push_back(static_cast<unsigned char>(c));
  } else {
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
      name->push_back(static_cast<char16_t>(LoadU16(raw, i)));
    }
  }
  return true;
}

namespace {

bool ReadList(HiveCells& cells, uint32_t list, bool top, std::vector<HiveSubkeyEntry>* entries,
              std::vector<uint32_t>* listCells) {
  std::string cell;
  if (!cells.Cell(list, 4, &cell)) return false;
  std::string kind = cell.substr(0, 2);
  size_t count = LoadU16(cell, 2);
  const bool hashed = kind == "lf" || kind == "lh";
  const size_t stride = hashed ? 8 : 4;
  if (kind != "ri" && kind != "li" && !hashed) return false;
  if (count > (cell.size() - 4) / stride) return false;
  listCells->push_back(list);
  for (size_t i = 0; i < count; ++i) {
    uint32_t entry = LoadU32(cell, 4 + stride * i);
    if (kind == "ri") {
      // An index root holds leaves, never another root.
      if (!top || !ReadList(cells, entry, false, entries, listCells)) return false;
      continue;
    }
    HiveSubkeyEntry subkey;
    subkey.cell = entry;
    if (!ReadHiveKeyName(cells, entry, &subkey.name)) return false;
    entries->push_back(std::move(subkey));
  }
  return true;
}

}  // namespace

bool HiveFileSound(std::FILE* file) {
  HiveCells cells(file);
  std::string block, bin;
  HiveHeader header;
  if (!cells.Read(0, kHiveBaseBlockSize, &block) ||
      CheckHiveHeader(block, cells.Size(), &header) != HiveCheck::kOk) {
    return false;
  }
  constexpr uint32_t kBinHeader = 32;
  for (uint32_t at = 0; at < header.binsSize;) {
    if (!cells.Read(HiveCells::FileOffset(at), kBinHeader, &bin) || bin.compare(0, 4, "hbin") != 0 ||
        LoadU32(bin, 4) != at) {
      return false;
    }
    const uint32_t size = LoadU32(bin, 8);
    if (size < 4096 || size % 4096 != 0 || size > header.binsSize - at ||
        !cells.Read(HiveCells::FileOffset(at), size, &bin)) {
      return false;
    }
    for (uint32_t cell = kBinHeader; cell < size;) {
      if (size - cell < 4) return false;
      const int64_t stored = static_cast<int32_t>(LoadU32(bin, cell));
      const uint64_t length = static_cast<uint64_t>(stored < 0 ? -stored : stored);
      if (length < 8 || length % 8 != 0 || length > size - cell) return false;
      cell += static_cast<uint32_t>(length);
    }
    at += size;
  }
  std::u16string name;
  std::string nk;
  std::vector<HiveSubkeyEntry> subkeys;
  std::vector<uint32_t> listCells;
  return ReadHiveKeyName(cells, header.rootCell, &name) &&
         cells.Cell(header.rootCell, hive_key::kName, &nk) &&
         (LoadU32(nk, hive_key::kSubkeyCount) == 0 ||
          ReadHiveSubkeyList(cells, LoadU32(nk, hive_key::kSubkeyList), &subkeys, &listCells));
}

bool ReadHiveSubkeyList(HiveCells& cells, uint32_t list, std::vector<HiveSubkeyEntry>* entries,
                        std::vector<uint32_t>* listCells) {
  return ReadList(cells, list, true, entries, listCells);
}
