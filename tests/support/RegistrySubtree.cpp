#include "support/RegistrySubtree.h"

#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryTree.h"

std::string RegistrySubtree(const std::string& bytes, const std::string& path) {
  RegistryKeyNode root;
  std::string error;
  if (!bytes.empty() && !ParseRegistryFile(bytes, &root, &error)) return "unreadable: " + error;
  const RegistryKeyNode* node = &root;
  std::string rest = path;
  while (node != nullptr && !rest.empty()) {
    size_t slash = rest.find('\\');
    node = node->FindSubkey(rest.substr(0, slash));
    rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
  }
  // A key with nothing in it counts as missing: a fresh prefix has an empty
  // list of installed programs, an image none.
  if (node == nullptr || (node->values.empty() && node->subkeys.empty())) return "";
  std::string text;
  if (!FormatRegistryFile(*node, &text, &error)) return "unwritable: " + error;
  return text;
}
