// HiveStore: HKEY_LOCAL_MACHINE\SOFTWARE in a Windows SOFTWARE hive, as the
// registry of a run (RegistryStore). Keys outside SOFTWARE do not exist,
// and none can be made. SOFTWARE is the 32-bit view, as the Windows program
// sees it: on a 64-bit Windows, whose hive holds WOW6432Node, that key. A
// key is read from the hive when a call first needs it. The save gives the
// library the changes to keys that were there, then adds the keys the run
// made while it commits them crash-safely (Hive::Commit), reading a part
// of the tree set aside during the run back only while it adds it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/hive/Hive.h"
#include "platform/portable/registry/RegistryStore.h"

class HiveStore : public RegistryStore {
 public:
  // Opens `file` for writing; null with the reason in `check`.
  static std::shared_ptr<HiveStore> Open(const std::filesystem::path& file, HiveCheck* check);

  std::shared_ptr<RegistryKeyNode> Root() override;
  void FillSubkeys(RegistryKeyNode* key) override;
  void FillValues(RegistryKeyNode* key) override;
  bool MayCreateBelow(const RegistryKeyNode& parent) const override { return parent.depth > 0; }
  bool Save(const RegistryKeyNode& root, RegistrySpill* spill, std::string* error) override;

 private:
  HiveStore(std::filesystem::path file, std::unique_ptr<Hive> hive, Hive::Node software)
      : file_(std::move(file)), hive_(std::move(hive)), software_(software) {}
  // The hive's key for a node of the tree: its offset, kept in `fileKey`.
  static Hive::Node NodeOf(const RegistryKeyNode& key) { return key.fileKey; }
  bool Apply(const RegistryKeyNode& key, Hive::Node node);
  bool Subkeys(const RegistryKeyNode& key, Hive::Node node);
  bool AddTree(HiveAppend& append, Hive::Node parent, const RegistrySubkey& subkey, size_t depth);
  bool Failed(const std::string& what);
  bool CommitFailed();

  // A key the run made below one that was in the hive: added at the commit.
  struct NewKey {
    Hive::Node parent;
    RegistrySubkey subkey;
    size_t depth;
  };

  std::filesystem::path file_;
  std::unique_ptr<Hive> hive_;
  Hive::Node software_;  // the key that stands for SOFTWARE
  RegistrySpill* spill_ = nullptr;
  std::vector<NewKey> newKeys_;
  std::string error_;
  bool unreadable_ = false;  // a key could not be read: the tree is not whole
  bool saveTried_ = false;   // a store commits its hive once
};
