#include "platform/portable/registry/RegistryTree.h"

#include "platform/WinError.h"
#include "platform/portable/text/Text.h"

RegistryKeyNode* RegistryKeyNode::FindSubkey(std::string_view subkey) const {
  auto it = subkeys.find(NameKey(subkey));
  return it == subkeys.end() ? nullptr : it->second.get();
}

RegistryKeyNode* RegistryKeyNode::AddSubkey(std::string_view subkey, bool* created) {
  auto [it, inserted] = subkeys.try_emplace(NameKey(subkey));
  if (inserted) {
    it->second = std::make_shared<RegistryKeyNode>();
    it->second->name = subkey;
    it->second->depth = depth + 1;
  }
  *created = inserted;
  return it->second.get();
}

const RegistryValue* RegistryKeyNode::FindValue(std::string_view value) const {
  auto it = values.find(NameKey(value));
  return it == values.end() ? nullptr : &it->second;
}

bool RegistryKeyNode::SetValue(std::string_view value, uint32_t type, std::string data) {
  auto [it, inserted] = values.try_emplace(NameKey(value));
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
  for (auto& [unused, subkey] : subkeys) subkey->MarkDeleted();
}

void RegistryKeyNode::RemoveSubkey(std::string_view subkey) {
  auto it = subkeys.find(NameKey(subkey));
  if (it == subkeys.end()) return;
  it->second->MarkDeleted();
  subkeys.erase(it);
}

void RegistryKeyNode::RemoveValue(std::string_view value) {
  values.erase(NameKey(value));
}

uint32_t SplitRegistryPath(std::string_view path, std::vector<std::string_view>* names) {
  names->clear();
  if (!path.empty() && path.front() == '\\') return kErrorBadPathname;
  while (!path.empty()) {
    size_t end = path.find('\\');
    std::string_view name = path.substr(0, end);
    if (name.size() > kMaxKeyNameChars) return kErrorInvalidParameter;
    if (!name.empty()) names->push_back(name);
    if (end == std::string_view::npos) break;
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
    if (!SameRegistryTree(*ia->second, *ib->second)) return false;
  }
  return true;
}
