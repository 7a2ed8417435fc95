// HiveStore: HKEY_LOCAL_MACHINE\SOFTWARE in a Windows SOFTWARE hive, as the
// registry of a run (RegistryStore). Keys outside SOFTWARE do not exist,
// and none can be made. SOFTWARE is the 32-bit view, as the Windows program
// sees it: on a 64-bit Windows, whose hive holds WOW6432Node, that key. A
// key is read from the hive when a call first needs it. The save gives the
// library the changes to keys that were there, then adds the keys the run
// made while it commits them crash-safely (Hive::Commit), reading a part
// of the tree set aside during the run back only while it adds it.
//
// Whatever the commit will read or change is checked when the store opens:
// the keys on the paths a run works below, and the keys there, so that a
// damaged record is found before the run changes anything. A key name the
// hive cannot hold is refused when the key is to be made.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/hive/Hive.h"
#include "platform/portable/registry/RegistryStore.h"

// A key below HKEY_LOCAL_MACHINE\SOFTWARE that a run reads or writes (its
// path below HKEY_LOCAL_MACHINE, such as "SOFTWARE\Vendor\Product", in
// code page 1252), and how far below it the run reaches: its direct
// subkeys, or its whole tree.
struct HiveReach {
  std::string path;
  bool wholeTree = false;
};

class HiveStore : public RegistryStore {
 public:
  // Opens `file` for writing and checks the keys `reach` names; null with
  // the reason in `check` (kDamagedKey, with the key in `damaged`, when one
  // of them cannot be read or changed as a commit would).
  static std::shared_ptr<HiveStore> Open(const std::filesystem::path& file,
                                         const std::vector<HiveReach>& reach, HiveCheck* check,
                                         std::string* damaged = nullptr);

  std::shared_ptr<RegistryKeyNode> Root() override;
  void FillSubkeys(RegistryKeyNode* key) override;
  void FillValues(RegistryKeyNode* key) override;
  uint32_t MayCreate(const RegistryKeyNode& parent, std::u16string_view name) const override;
  bool Save(const RegistryKeyNode& root, RegistrySpill* spill, std::string* error) override;

 private:
  HiveStore(std::filesystem::path file, std::unique_ptr<Hive> hive, Hive::Node software)
      : file_(std::move(file)), hive_(std::move(hive)), software_(software) {}
  // The first key in reach that is not sound, as a path; empty when all are.
  std::u16string Unsound(const std::vector<HiveReach>& reach) const;
  // The hive's key for a node of the tree: its offset, kept in `fileKey`.
  static Hive::Node NodeOf(const RegistryKeyNode& key) { return key.fileKey; }
  bool Apply(const RegistryKeyNode& key, Hive::Node node);
  bool Subkeys(const RegistryKeyNode& key, Hive::Node node);
  bool AddTree(HiveEdit& edit, Hive::Node parent, const RegistrySubkey& subkey, size_t depth);
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
  std::vector<std::pair<Hive::Node, Hive::Node>> deletedKeys_;  // parent, key
  std::vector<Hive::Node> changedKeys_;                         // keys whose values changed
  std::string error_;
  bool unreadable_ = false;  // a key could not be read: the tree is not whole
  bool saveTried_ = false;   // a store commits its hive once
};
