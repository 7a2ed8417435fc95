// RegistryStore: a registry kept somewhere other than a registry file, such
// as a Windows hive. PortableRegistry holds the keys a run reaches; the
// store gives each key's subkeys and values when a call first needs them,
// and takes the run's changes back when the registry is saved.
//
// The store's keys carry its own numbers in `fileKey` (with their subkeys
// and values pending until filled), so they are never set aside in the
// spill; keys the run creates carry kNoFileKey.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/portable/registry/RegistryTree.h"

class RegistrySpill;

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  // HKEY_LOCAL_MACHINE, its keys still pending.
  virtual std::shared_ptr<RegistryKeyNode> Root() = 0;
  // Fill a key of the store: its subkeys (each pending in turn) or values.
  virtual void FillSubkeys(RegistryKeyNode* key) = 0;
  virtual void FillValues(RegistryKeyNode* key) = 0;
  // Whether a new subkey `name` may be made below `parent`: 0, or the error
  // that stands in the way (a store may hold only part of the registry, or
  // names of only some characters).
  virtual uint32_t MayCreate(const RegistryKeyNode& parent, std::u16string_view name) const = 0;
  // Writes the tree's changes: keys created, keys whose values changed
  // (`edited`), keys removed from a filled key's subkeys. Spilled subtrees
  // are read back from `spill`. False, with the store as it was, and the
  // reason in `error`.
  virtual bool Save(const RegistryKeyNode& root, RegistrySpill* spill, std::string* error) = 0;
};
