#include "platform/portable/registry/RegistrySpill.h"

#include <climits>
#include <cstring>

#include "platform/portable/registry/RegistryParser.h"
#include "platform/portable/text/Text.h"

// A spilled tree is one record at the end of the file: its size (8 bytes),
// the key's name, then the key: its value count, each value (name, type, data), its subkey
// count, each subkey (name, then the subkey's key in the same form). Counts
// and lengths are 4 bytes, names UTF-16 code units; all little-endian as
// the host keeps them (the file never leaves this process).

namespace {

void Put32(uint32_t n, std::string* out) {
  out->append(reinterpret_cast<const char*>(&n), sizeof n);
}

void PutName(std::u16string_view name, std::string* out) {
  Put32(static_cast<uint32_t>(name.size()), out);
  out->append(reinterpret_cast<const char*>(name.data()), name.size() * sizeof(char16_t));
}

// What a registry file in code page 1252 can carry as it stands.
bool AnsiName(std::u16string_view name) {
  return !registry_text::HoldsLineBreak(name) && Cp1252HoldsAll(name);
}

// Reads what Encode wrote, never past the end of the bytes.
class Decoder {
 public:
  explicit Decoder(std::string_view bytes) : bytes_(bytes) {}

  bool Record(RegistryKeyNode* key) { return Name(&key->name) && Key(key) && bytes_.empty(); }

  bool Key(RegistryKeyNode* key) {
    uint32_t values = 0, subkeys = 0;
    if (!Get32(&values)) return false;
    for (uint32_t i = 0; i < values; ++i) {
      std::u16string name;
      uint32_t type = 0, size = 0;
      if (!Name(&name) || !Get32(&type) || !Get32(&size) || size > bytes_.size()) return false;
      key->SetValue(name, type, std::string(bytes_.substr(0, size)));
      bytes_.remove_prefix(size);
    }
    if (!Get32(&subkeys)) return false;
    for (uint32_t i = 0; i < subkeys; ++i) {
      std::u16string name;
      bool created = false;
      if (!Name(&name)) return false;
      RegistryKeyNode* subkey = key->AddSubkey(name, &created);
      if (!created || !Key(subkey)) return false;
    }
    return true;
  }

 private:
  bool Get32(uint32_t* n) {
    if (bytes_.size() < sizeof *n) return false;
    std::memcpy(n, bytes_.data(), sizeof *n);
    bytes_.remove_prefix(sizeof *n);
    return true;
  }
  bool Name(std::u16string* name) {
    uint32_t units = 0;
    if (!Get32(&units) || units > bytes_.size() / sizeof(char16_t)) return false;
    name->resize(units);
    std::memcpy(name->data(), bytes_.data(), units * sizeof(char16_t));
    bytes_.remove_prefix(units * sizeof(char16_t));
    return true;
  }

  std::string_view bytes_;
};

}  // namespace

RegistrySpill::~RegistrySpill() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RegistrySpill::Encode(const RegistryKeyNode& key, std::string* out) {
  Put32(static_cast<uint32_t>(key.values.size()), out);
  for (const auto& [unused, value] : key.values) {
    bool text = IsRegistryStringType(value.type);
    if (!AnsiName(value.name) ||
        (text && (value.data.size() % 2 != 0 || !Cp1252HoldsAll(Utf16LeUnits(value.data))))) {
      return false;
    }
    PutName(value.name, out);
    Put32(value.type, out);
    Put32(static_cast<uint32_t>(value.data.size()), out);
    out->append(value.data);
  }
  Put32(static_cast<uint32_t>(key.subkeys.size()), out);
  for (const auto& [unused, subkey] : key.subkeys) {
    std::shared_ptr<RegistryKeyNode> copy;
    const RegistryKeyNode* tree = subkey.node.get();
    if (subkey.Spilled()) {
      copy = Copy(subkey, key.depth + 1);
      if (!copy) return false;
      tree = copy.get();
    }
    if (!AnsiName(tree->name) || tree->fileKey != kNoFileKey) return false;
    PutName(tree->name, out);
    if (!Encode(*tree, out)) return false;
  }
  return true;
}

bool RegistrySpill::Spill(RegistrySubkey* subkey) {
  const RegistryKeyNode* key = subkey->node.get();
  if (key == nullptr || key->fileKey != kNoFileKey || !AnsiName(key->name)) return false;
  std::string record(sizeof(uint64_t), '\0');
  PutName(key->name, &record);
  if (!Encode(*key, &record)) return false;
  uint64_t size = record.size() - sizeof size;
  std::memcpy(record.data(), &size, sizeof size);
  // Offsets must fit the standard library's file positions.
  if (end_ + record.size() > static_cast<uint64_t>(LONG_MAX)) return false;
  if (file_ == nullptr) file_ = std::tmpfile();
  if (file_ == nullptr || std::fseek(file_, 0, SEEK_END) != 0 ||
      std::fwrite(record.data(), 1, record.size(), file_) != record.size()) {
    return false;
  }
  subkey->spilledAt = end_;
  end_ += record.size();
  subkey->node.reset();
  return true;
}

bool RegistrySpill::Read(uint64_t at, RegistryKeyNode* into) {
  uint64_t size = 0;
  std::string bytes;
  bool read = file_ != nullptr && at + sizeof size <= end_ &&
              std::fseek(file_, static_cast<long>(at), SEEK_SET) == 0 &&
              std::fread(&size, sizeof size, 1, file_) == 1 && size <= end_ - at - sizeof size;
  if (read) {
    bytes.resize(static_cast<size_t>(size));
    read = std::fread(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  if (read && Decoder(bytes).Record(into)) return true;
  broken_ = true;
  return false;
}

bool RegistrySpill::Restore(RegistrySubkey* subkey, RegistryKeyNode* parent) {
  if (!subkey->Spilled()) return true;
  std::shared_ptr<RegistryKeyNode> node = Copy(*subkey, parent->depth + 1);
  if (!node) return false;
  node->parent = parent;
  subkey->node = std::move(node);
  return true;
}

std::shared_ptr<RegistryKeyNode> RegistrySpill::Copy(const RegistrySubkey& subkey, size_t depth) {
  if (!subkey.Spilled()) return nullptr;
  auto copy = std::make_shared<RegistryKeyNode>();
  copy->depth = depth;
  if (!Read(subkey.spilledAt, copy.get())) return nullptr;
  return copy;
}
