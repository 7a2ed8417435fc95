#include "platform/portable/registry/RegistryTree.h"

#include "platform/Env.h"
#include "platform/WinError.h"
#include "platform/portable/text/Text.h"

bool IsRegistryStringType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

std::string Utf16LeBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(2 * text.size());
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::u16string Utf16LeUnits(std::string_view bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return units;
}

RegistryKeyNode* RegistryKeyNode::FindSubkey(std::u16string_view subkey) const {
  auto it = subkeys.find(UnicodeNameKey(subkey));
  return it == subkeys.end() ? nullptr : it->second.node.get();
}

RegistryKeyNode* RegistryKeyNode::FindSubkey(std::string_view ansiSubkey) const {
  return FindSubkey(Cp1252ToUtf16(ansiSubkey));
}

RegistryKeyNode* RegistryKeyNode::AddSubkey(std::u16string_view subkey, bool* created) {
  auto [it, inserted] = subkeys.try_emplace(UnicodeNameKey(subkey));
  if (inserted) {
    auto node = std::make_shared<RegistryKeyNode>();
    node->name = subkey;
    node->depth = depth + 1;
    node->parent = this;
    it->second.node = std::move(node);
  }
  *created = inserted;
  return it->second.node.get();
}

const RegistryValue* RegistryKeyNode::FindValue(std::u16string_view value) const {
  auto it = values.find(UnicodeNameKey(value));
  return it == values.end() ? nullptr : &it->second;
}

bool RegistryKeyNode::SetValue(std::u16string_view value, uint32_t type, std::string data) {
  auto [it, inserted] = values.try_emplace(UnicodeNameKey(value));
  if (inserted) {
    it->second.name = value;
  } else if (it->second.type == type && it->second.data == data) {
    return false;
  }
  it->second.type = type;
  it->second.data = std::move(data);
  return true;
}

void RegistryKeyNode::MarkDeleted() {
  deleted = true;
  for (auto& [unused, subkey] : subkeys) {
    if (!subkey.Spilled()) subkey.node->MarkDeleted();
  }
}

void RegistryKeyNode::RemoveSubkey(std::u16string_view subkey) {
  auto it = subkeys.find(UnicodeNameKey(subkey));
  if (it == subkeys.end()) return;
  if (!it->second.Spilled()) it->second.node->MarkDeleted();
  subkeys.erase(it);
}

void RegistryKeyNode::RemoveValue(std::u16string_view value) {
  values.erase(UnicodeNameKey(value));
}

uint32_t SplitRegistryPath(std::u16string_view path, std::vector<std::u16string_view>* names) {
  names->clear();
  if (!path.empty() && path.front() == u'\\') return kErrorBadPathname;
  while (!path.empty()) {
    size_t end = path.find(u'\\');
    std::u16string_view name = path.substr(0, end);
    if (name.size() > kMaxKeyNameChars) return kErrorInvalidParameter;
    if (!name.empty()) names->push_back(name);
    if (end == std::u16string_view::npos) break;
    path.remove_prefix(end + 1);
  }
  return kErrorSuccess;
}

bool SameRegistryTree(const RegistryKeyNode& a, const RegistryKeyNode& b) {
  if (a.name != b.name || a.values.size() != b.values.size() ||
      a.subkeys.size() != b.subkeys.size()) {
    return false;
  }
  for (auto ia = a.values.begin(), ib = b.values.begin(); ia != a.values.end(); ++ia, ++ib) {
    const RegistryValue& va = ia->second;
    const RegistryValue& vb = ib->second;
    if (va.name != vb.name || va.type != vb.type || va.data != vb.data) return false;
  }
  for (auto ia = a.subkeys.begin(), ib = b.subkeys.begin(); ia != a.subkeys.end(); ++ia, ++ib) {
    if (ia->second.Spilled() || ib->second.Spilled() ||
        !SameRegistryTree(*ia->second.node, *ib->second.node)) {
      return false;
    }
  }
  return true;
}
