#include "platform/hive/Hive.h"

#include <hivex.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/hive/HiveCells.h"
#include "platform/hive/HiveEdit.h"
#include "platform/portable/files/HostFile.h"
#include "platform/portable/registry/RegistryTree.h"
#include "platform/portable/text/Text.h"

static_assert(sizeof(hive_type) == sizeof(uint32_t), "value types pass through as 32 bits");

namespace {

hive_h* Handle(void* handle) {
  return static_cast<hive_h*>(handle);
}

// The base block and the file's size, without trusting either.
HiveCheck ReadHeader(const std::filesystem::path& file, HiveHeader* header) {
  std::error_code ec;
  uint64_t size = std::filesystem::file_size(file, ec);
  if (ec) return HiveCheck::kUnreadable;
  std::FILE* in = OpenHostFile(file, "rb");
  if (in == nullptr) return HiveCheck::kUnreadable;
  std::string block(kHiveBaseBlockSize, '\0');
  size_t read = std::fread(block.data(), 1, block.size(), in);
  bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed) return HiveCheck::kUnreadable;
  block.resize(read);
  return CheckHiveHeader(block, size, header);
}

// Text the conversion to UTF-8 carries whole: no NUL, no half of a
// surrogate pair.
bool WholeText(std::u16string_view name) {
  for (size_t i = 0; i < name.size(); ++i) {
    char16_t unit = name[i];
    if (unit == 0) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 == name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// A string the library gave, freed here; `length` as the library counts it.
std::u16string TakeName(char* utf8, size_t length) {
  std::u16string name = Utf8ToUtf16(std::string_view(utf8, length));
  std::free(utf8);
  return name;
}

}  // namespace

Hive::Hive(void* handle, std::FILE* file, uint32_t minorVersion)
    : handle_(handle),
      file_(file),
      cells_(std::make_unique<HiveCells>(file)),
      minorVersion_(minorVersion) {}

Hive::~Hive() {
  hivex_close(Handle(handle_));  // uncommitted changes are dropped
  std::fclose(file_);
}

std::unique_ptr<Hive> Hive::Open(const std::filesystem::path& file, bool write, HiveCheck* check,
                                 HiveHeader* header) {
  HiveHeader read;
  *check = ReadHeader(file, &read);
  if (header != nullptr) *header = read;
  if (*check != HiveCheck::kOk) return nullptr;
  std::FILE* in = OpenHostFile(file, "rb");
  if (in == nullptr) {
    *check = HiveCheck::kUnreadable;
    return nullptr;
  }
  hive_h* handle = hivex_open(file.c_str(), write ? HIVEX_OPEN_WRITE : 0);
  if (handle == nullptr) {
    std::fclose(in);
    *check = HiveCheck::kRefused;
    return nullptr;
  }
  return std::unique_ptr<Hive>(new Hive(handle, in, read.minorVersion));
}

bool Hive::CellOf(Node key, uint32_t* cell) {
  if (key < kHiveBaseBlockSize || key - kHiveBaseBlockSize > UINT32_MAX) return false;
  *cell = static_cast<uint32_t>(key - kHiveBaseBlockSize);
  return true;
}

Hive::Node Hive::Root() const {
  return hivex_root(Handle(handle_));
}

bool Hive::Name(Node key, std::u16string* name) const {
  uint32_t cell = 0;
  return CellOf(key, &cell) && ReadHiveKeyName(*cells_, cell, name);
}

bool Hive::Subkeys(Node key, std::vector<Node>* subkeys) const {
  uint32_t cell = 0;
  std::string nk;
  if (!CellOf(key, &cell) || !cells_->Cell(cell, hive_key::kName, &nk) ||
      nk.compare(0, 2, "nk") != 0) {
    return false;
  }
  subkeys->clear();
  const uint32_t count = LoadU32(nk, hive_key::kSubkeyCount);
  if (count == 0) return true;
  std::vector<HiveSubkeyEntry> entries;
  std::vector<uint32_t> listCells;
  if (!ReadHiveSubkeyList(*cells_, LoadU32(nk, hive_key::kSubkeyList), &entries, &listCells) ||
      entries.size() != count) {
    return false;
  }
  for (const HiveSubkeyEntry& entry : entries)
    subkeys->push_back(HiveCells::FileOffset(entry.cell));
  return true;
}

bool Hive::Child(Node key, std::u16string_view name, Node* child) const {
  std::vector<Node> subkeys;
  if (!Subkeys(key, &subkeys)) return false;
  std::u16string found;
  for (Node subkey : subkeys) {
    if (Name(subkey, &found) && SameUnicodeName(found, name)) {
      *child = subkey;
      return true;
    }
  }
  return false;
}

bool Hive::Values(Node key, std::vector<HiveValue>* values) const {
  hive_value_h* handles = hivex_node_values(Handle(handle_), key);
  if (handles == nullptr) return false;
  values->clear();
  bool whole = true;
  for (size_t i = 0; whole && handles[i] != 0; ++i) {
    HiveValue value;
    char* name = hivex_value_key(Handle(handle_), handles[i]);
    // A hive may hold any 32-bit type, beyond the library's enumeration:
    // the type lands in plain storage and is never read as the enum.
    uint32_t type = 0;
    size_t size = 0;
    char* data = name == nullptr ? nullptr
                                 : hivex_value_value(Handle(handle_), handles[i],
                                                     reinterpret_cast<hive_type*>(&type), &size);
    whole = data != nullptr;
    if (whole) {
      value.name = TakeName(name, hivex_value_key_len(Handle(handle_), handles[i]));
      value.type = type;
      value.data.assign(data, size);
      values->push_back(std::move(value));
    } else {
      std::free(name);
    }
    std::free(data);
  }
  std::free(handles);
  return whole;
}

bool Hive::Sound(Node key) const {
  uint32_t cell = 0;
  std::string nk, sk;
  std::u16string name;
  std::vector<Node> subkeys;
  std::vector<HiveValue> values;
  if (!CellOf(key, &cell) || !Name(key, &name) || !Subkeys(key, &subkeys) ||
      !cells_->Cell(cell, hive_key::kName, &nk) ||
      !cells_->Cell(LoadU32(nk, hive_key::kSecurity), 0x14, &sk) || sk.compare(0, 2, "sk") != 0 ||
      LoadU32(sk, 0x0C) == 0) {  // the record counts the keys using it: this one at least
    return false;
  }
  for (Node subkey : subkeys) {
    if (!Name(subkey, &name)) return false;
  }
  return Values(key, &values);
}

bool Hive::Refuse(Refusal refusal) {
  refusal_ = refusal;
  if (refusal == Refusal::kLibraryFailed) broken_ = true;
  return false;
}

Hive::Refusal Hive::CheckKeyName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxKeyNameChars || name.find(u'\\') != name.npos ||
      !WholeText(name)) {
    return Refusal::kBadName;
  }
  return Refusal::kNone;
}

Hive::Refusal Hive::CheckValues(const std::vector<HiveValue>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    const HiveValue& value = values[i];
    if (value.name.size() > kMaxValueNameChars || !WholeText(value.name)) return Refusal::kBadName;
    for (size_t j = 0; j < i; ++j) {
      if (SameUnicodeName(values[j].name, value.name)) return Refusal::kBadName;
    }
    if (value.data.size() > kMaxValueBytes) return Refusal::kValueTooLarge;
  }
  return Refusal::kNone;
}

bool Hive::SetValues(Node key, const std::vector<HiveValue>& values) {
  if (broken_) return Refuse(Refusal::kBroken);
  Refusal refusal = CheckValues(values);
  if (refusal != Refusal::kNone) return Refuse(refusal);
  std::vector<std::string> names;
  names.reserve(values.size());
  for (const HiveValue& value : values) names.push_back(Utf16UnitsToUtf8(value.name));
  std::vector<hive_set_value> set(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    set[i].key = names[i].data();
    std::memcpy(&set[i].t, &values[i].type, sizeof set[i].t);  // any type, as read
    set[i].len = values[i].data.size();
    set[i].value = const_cast<char*>(values[i].data.data());
  }
  if (hivex_node_set_values(Handle(handle_), key, set.size(), set.data(), 0) != 0) {
    return Refuse(Refusal::kLibraryFailed);
  }
  return true;
}

// The changes to keys, made in the file the library committed.
bool Hive::Edit(std::FILE* file, const Edits& edits) {
  HiveCells cells(file);
  std::string block;
  HiveHeader header;
  if (!cells.Read(0, kHiveBaseBlockSize, &block) ||
      CheckHiveHeader(block, cells.Size(), &header) != HiveCheck::kOk) {
    return Refuse(Refusal::kMalformed);
  }
  HiveEdit edit(cells, std::move(block), header);
  if ((edits && !edits(edit)) || !edit.Finish()) return Refuse(edit.LastRefusal());
  return true;
}

bool Hive::Commit(const std::filesystem::path& file, const Edits& edits) {
  if (broken_) return Refuse(Refusal::kBroken);
  refusal_ = Refusal::kNone;
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  RemoveLeftTemporaries(folder, kHiveTemporaryStem);
  std::filesystem::path temporary = UnusedTemporary(folder, kHiveTemporaryStem);
  std::error_code ec;
  auto abandon = [&] {
    std::filesystem::remove(temporary, ec);
    return false;
  };
  if (hivex_commit(Handle(handle_), temporary.c_str(), 0) != 0) return abandon();
  std::FILE* written = OpenHostFile(temporary, "r+b");
  bool durable = written != nullptr && Edit(written, edits);
  durable = durable && SyncHostFile(written);
  // Read back as the next run will, one bin at a time: the library would
  // hold the whole new hive in memory to check it.
  durable = durable && HiveFileSound(written);
  if (written != nullptr) std::fclose(written);
  if (!durable) return abandon();
  std::filesystem::file_status old = std::filesystem::status(file, ec);
  if (!ec) std::filesystem::permissions(temporary, old.permissions(), ec);
  std::filesystem::rename(temporary, file, ec);
  if (ec) return abandon();
  return SyncHostFolder(folder);
}
