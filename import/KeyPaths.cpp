#include "import/KeyPaths.h"

namespace {

const char* RootName(RegKey root) {
  switch (root) {
    case 0x80000000:
      return "HKEY_CLASSES_ROOT";
    case 0x80000001:
      return "HKEY_CURRENT_USER";
    case kHKeyLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case 0x80000003:
      return "HKEY_USERS";
    default:
      return nullptr;
  }
}

}  // namespace

std::string KeyPath::FullName() const {
  std::string name = RootName(root);
  return path.empty() ? name : name + "\\" + path;
}

KeyPath KeyPath::Below(const char* subkey) const {
  KeyPath below{root, path};
  std::string part;
  for (const char* p = subkey ? subkey : "";; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (!part.empty()) below.path += (below.path.empty() ? "" : "\\") + part;
      part.clear();
      if (*p == '\0') break;
    } else {
      part += *p;
    }
  }
  return below;
}

bool KeyPaths::Find(RegKey key, KeyPath* found) const {
  if (RootName(key) != nullptr) {
    *found = {key, ""};
    return true;
  }
  auto it = handles_.find(key);
  if (it == handles_.end()) return false;
  *found = it->second;
  return true;
}

void KeyPaths::Opened(RegKey parent, const char* subkey, RegKey opened) {
  KeyPath path;
  if (opened == 0 || RootName(opened) != nullptr || !Find(parent, &path)) return;
  handles_[opened] = path.Below(subkey);
}
