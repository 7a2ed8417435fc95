// RegistrySpill: where PortableRegistry puts the trees of keys it need not
// hold in memory, so that a run that writes hundreds of thousands of keys
// holds only the keys it is working on.
//
// A spilled key keeps its node (its name, in its parent's map), with its
// subkeys and values written to a temporary file that is gone once the
// spill is; the first call that needs them reads them back. Only a tree
// that a registry file in code page 1252 can carry as it stands (no line
// break in a name, all text in the code page) is spilled, so that the
// writer need not look into spilled trees before it picks the form.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/portable/registry/RegistryTree.h"

class RegistrySpill {
 public:
  RegistrySpill() = default;
  ~RegistrySpill();
  RegistrySpill(const RegistrySpill&) = delete;
  RegistrySpill& operator=(const RegistrySpill&) = delete;

  // Writes the subkeys and values of `key` (a whole tree, subkeys spilled
  // before included) to the spill and empties its maps. False, with `key`
  // left as it was, when the tree cannot be carried in code page 1252 or
  // the spill cannot be written.
  bool Spill(RegistryKeyNode* key);
  // Reads the tree of a spilled key back into it. False when the spill
  // cannot be read: the key then stays spilled, and Broken() tells.
  bool Restore(RegistryKeyNode* key);
  // A node holding the whole tree of a spilled key, which stays spilled;
  // null when the spill cannot be read.
  std::shared_ptr<RegistryKeyNode> Copy(const RegistryKeyNode& key);
  // True once a spilled tree could not be read back: the registry is no
  // longer whole.
  bool Broken() const { return broken_; }

 private:
  bool Encode(const RegistryKeyNode& key, std::string* out);
  bool Read(uint64_t at, RegistryKeyNode* into);

  std::FILE* file_ = nullptr;
  uint64_t end_ = 0;
  bool broken_ = false;
};
