// RegistrySpill: where PortableRegistry puts the trees of keys it need not
// hold in memory, so that a run that writes hundreds of thousands of keys
// holds only the keys it is working on.
//
// A spilled key keeps only its entry in its parent's map (RegistrySubkey);
// its name, values and subkeys are written to a temporary file that is gone
// once the spill is, and the first call that needs them reads them back.
// Only a tree
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

  // Writes the tree of `subkey` (its name, values and subkeys, subkeys
  // spilled before included) to the spill and lets go of its node. False,
  // with `subkey` left as it was, when the tree cannot be carried in code
  // page 1252 or the spill cannot be written.
  bool Spill(RegistrySubkey* subkey);
  // Reads the tree of a spilled subkey of `parent` back into a node of its
  // own. False when the spill cannot be read: the subkey then stays
  // spilled, and Broken() tells.
  bool Restore(RegistrySubkey* subkey, RegistryKeyNode* parent);
  // A node holding the whole tree of a spilled subkey at `depth`, which
  // stays spilled; null when the spill cannot be read.
  std::shared_ptr<RegistryKeyNode> Copy(const RegistrySubkey& subkey, size_t depth);
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
