#include "platform/hive/HiveStore.h"

#include <vector>

#include "platform/WinError.h"
#include "platform/hive/HiveEdit.h"
#include "platform/portable/registry/RegistrySpill.h"
#include "platform/portable/text/Text.h"

namespace {

const char* Reason(Hive::Refusal refusal) {
  switch (refusal) {
    case Hive::Refusal::kBadName:
      return "a name no hive can hold";
    case Hive::Refusal::kValueTooLarge:
      return "a value of more than 16,344 bytes, which the hive library cannot write as Windows "
             "reads it";
    case Hive::Refusal::kMalformed:
      return "a record of the hive is not as it should be";
    case Hive::Refusal::kHiveFull:
      return "the hive would pass the largest size a hive can have";
    case Hive::Refusal::kWriteFailed:
      return "the new hive could not be written";
    case Hive::Refusal::kOldHiveName:
      return "a key name with a character beyond U+00FF, which a hive of this old version "
             "(before 1.5) cannot list as Windows looks it up";
    default:
      return "the hive library failed";
  }
}

std::vector<HiveValue> ValuesOf(const RegistryKeyNode& key) {
  std::vector<HiveValue> values;
  for (const auto& [unused, value] : key.values)
    values.push_back({value.name, value.type, value.data});
  return values;
}

std::shared_ptr<RegistryKeyNode> PendingNode(std::u16string name, size_t depth,
                                             RegistryKeyNode* parent, Hive::Node node) {
  auto key = std::make_shared<RegistryKeyNode>();
  key->name = std::move(name);
  key->depth = depth;
  key->parent = parent;
  key->fileKey = static_cast<uint32_t>(node);
  key->subkeysPending = true;
  key->valuesPending = true;
  return key;
}

}  // namespace

std::shared_ptr<HiveStore> HiveStore::Open(const std::filesystem::path& file,
                                           const std::vector<HiveReach>& reach, HiveCheck* check,
                                           std::string* damaged) {
  std::unique_ptr<Hive> hive = Hive::Open(file, true, check);
  if (!hive) return nullptr;
  // A 64-bit Windows keeps the 32-bit programs' view of SOFTWARE, the one
  // the program and the new release work in, below WOW6432Node.
  Hive::Node software = hive->Root(), wow64 = 0;
  if (!hive->Sound(software)) {
    *check = HiveCheck::kDamagedKey;
    if (damaged != nullptr) *damaged = "(the root key)";
    return nullptr;
  }
  if (hive->Child(software, u"WOW6432Node", &wow64)) software = wow64;
  std::shared_ptr<HiveStore> store(new HiveStore(file, std::move(hive), software));
  std::u16string unsound = store->Unsound(reach);
  if (!unsound.empty()) {
    *check = HiveCheck::kDamagedKey;
    if (damaged != nullptr) *damaged = Utf16UnitsToUtf8(unsound);
    return nullptr;
  }
  return store;
}

std::u16string HiveStore::Unsound(const std::vector<HiveReach>& reach) const {
  for (const HiveReach& target : reach) {
    std::u16string path = u"HKEY_LOCAL_MACHINE\\SOFTWARE";
    Hive::Node key = software_;
    if (!hive_->Sound(key)) return path;
    bool found = true;
    // The parts after SOFTWARE.
    const std::u16string below = Cp1252ToUtf16(target.path);
    for (size_t start = below.find(u'\\'); found && start != std::u16string::npos;) {
      size_t end = below.find(u'\\', start + 1);
      std::u16string part = below.substr(start + 1, end - start - 1);
      start = end;
      path += u"\\" + part;
      found = hive_->Child(key, part, &key);
      if (found && !hive_->Sound(key)) return path;
    }
    if (!found) continue;  // the run makes what is missing below the last key there
    // The keys below: each one, or each one of the first level.
    std::vector<std::pair<Hive::Node, std::u16string>> pending = {{key, path}};
    while (!pending.empty()) {
      auto [node, at] = std::move(pending.back());
      pending.pop_back();
      std::vector<Hive::Node> subkeys;
      std::u16string name;
      hive_->Subkeys(node, &subkeys);
      for (Hive::Node subkey : subkeys) {
        hive_->Name(subkey, &name);
        if (!hive_->Sound(subkey)) return at + u"\\" + name;
        if (target.wholeTree) pending.emplace_back(subkey, at + u"\\" + name);
      }
    }
  }
  return {};
}

uint32_t HiveStore::MayCreate(const RegistryKeyNode& parent, std::u16string_view name) const {
  if (parent.depth == 0) return kErrorAccessDenied;  // only SOFTWARE is in the hive
  return HiveEdit::CanHoldName(hive_->MinorVersion(), name) ? kErrorSuccess : kErrorBadKey;
}

std::shared_ptr<RegistryKeyNode> HiveStore::Root() {
  auto root = std::make_shared<RegistryKeyNode>();
  auto software = PendingNode(u"SOFTWARE", 1, root.get(), software_);
  root->subkeys.emplace(UnicodeNameKey(software->name), RegistrySubkey{software});
  return root;
}

void HiveStore::FillSubkeys(RegistryKeyNode* key) {
  key->subkeysPending = false;
  std::vector<Hive::Node> subkeys;
  if (!hive_->Subkeys(NodeOf(*key), &subkeys)) {
    unreadable_ = true;
    return;
  }
  std::u16string name;
  for (Hive::Node subkey : subkeys) {
    if (!hive_->Name(subkey, &name)) {
      unreadable_ = true;
      continue;
    }
    // A second key of the same name under Windows' rule is not reached, as
    // on Windows; the save leaves it as it is.
    key->subkeys.emplace(UnicodeNameKey(name),
                         RegistrySubkey{PendingNode(name, key->depth + 1, key, subkey)});
  }
}

void HiveStore::FillValues(RegistryKeyNode* key) {
  key->valuesPending = false;
  std::vector<HiveValue> values;
  if (!hive_->Values(NodeOf(*key), &values)) {
    unreadable_ = true;
    return;
  }
  for (HiveValue& value : values) key->SetValue(value.name, value.type, std::move(value.data));
}

bool HiveStore::CommitFailed() {
  std::string what = file_.string() + ": the hive cannot be written";
  if (hive_->LastRefusal() != Hive::Refusal::kNone)
    what += std::string(": ") + Reason(hive_->LastRefusal());
  return Failed(what);
}

bool HiveStore::Failed(const std::string& what) {
  if (error_.empty()) error_ = what;
  return false;
}

bool HiveStore::Save(const RegistryKeyNode& root, RegistrySpill* spill, std::string* error) {
  spill_ = spill;
  error_.clear();
  newKeys_.clear();
  deletedKeys_.clear();
  changedKeys_.clear();
  bool saved = false;
  if (saveTried_) {
    // The library's copy of the hive holds neither the keys the commit
    // added nor, after a failed commit, the hive as it is: once is all.
    Failed("the hive has been written once already; it must be opened again");
  } else if (unreadable_) {
    Failed("a key of the hive could not be read, so the changes are not written");
  } else {
    saved = true;
    for (const auto& [name, subkey] : root.subkeys) {
      if (subkey.Spilled() || subkey.node->fileKey != static_cast<uint32_t>(software_)) {
        saved = Failed("keys outside HKEY_LOCAL_MACHINE\\SOFTWARE cannot be written into the hive");
      }
    }
    if (saved && root.subkeys.size() != 1) saved = Failed("HKEY_LOCAL_MACHINE\\SOFTWARE is gone");
    auto edits = [this](HiveEdit& edit) {
      for (const auto& [parent, key] : deletedKeys_) {
        if (!edit.DeleteKey(parent, key)) return Failed(Reason(edit.LastRefusal()));
      }
      for (Hive::Node key : changedKeys_) {
        if (!edit.Touch(key)) return Failed(Reason(edit.LastRefusal()));
      }
      for (const NewKey& key : newKeys_) {
        if (!AddTree(edit, key.parent, key.subkey, key.depth)) return false;
      }
      return true;
    };
    saveTried_ = saved;
    saved = saved && Apply(*root.subkeys.begin()->second.node, software_) &&
            (hive_->Commit(file_, edits) || CommitFailed());
  }
  if (!saved) *error = error_;
  return saved;
}

// A key that was in the hive: its values when they changed, then its
// subkeys when they were read.
bool HiveStore::Apply(const RegistryKeyNode& key, Hive::Node node) {
  if (!key.valuesPending && key.edited) {
    if (!hive_->SetValues(node, ValuesOf(key))) return Failed(Reason(hive_->LastRefusal()));
    changedKeys_.push_back(node);
  }
  return key.subkeysPending || Subkeys(key, node);
}

// The subkeys of a key whose subkeys were read: those removed from the tree
// are deleted from the hive, the others applied, and those the run made
// kept for the commit to add.
bool HiveStore::Subkeys(const RegistryKeyNode& key, Hive::Node node) {
  if (key.fileKey != kNoFileKey) {
    std::vector<Hive::Node> inHive;
    if (!hive_->Subkeys(node, &inHive)) return Failed("a key of the hive could not be read");
    std::u16string name;
    for (Hive::Node child : inHive) {
      if (!hive_->Name(child, &name)) return Failed("a key of the hive could not be read");
      // Gone from the tree, or made anew by the run: deleted. A second key
      // of the same name that the tree never reached stays as it is.
      auto it = key.subkeys.find(UnicodeNameKey(name));
      bool gone =
          it == key.subkeys.end() || it->second.Spilled() || it->second.node->fileKey == kNoFileKey;
      if (gone) deletedKeys_.emplace_back(node, child);
    }
  }
  for (const auto& [unused, subkey] : key.subkeys) {
    // Only keys the run made are set aside: a spilled one is new.
    if (subkey.Spilled() || subkey.node->fileKey == kNoFileKey) {
      newKeys_.push_back({node, subkey, key.depth + 1});
    } else if (!Apply(*subkey.node, NodeOf(*subkey.node))) {
      return false;
    }
  }
  return true;
}

// A key the run made, with everything below it, added below `parent`; a
// key set aside during the run is read back only for as long as this takes.
bool HiveStore::AddTree(HiveEdit& edit, Hive::Node parent, const RegistrySubkey& subkey,
                        size_t depth) {
  std::shared_ptr<const RegistryKeyNode> key = subkey.node;
  if (subkey.Spilled() && spill_ != nullptr) key = spill_->Copy(subkey, depth);
  if (!key) return Failed("a part of the registry set aside during the run cannot be read back");
  if (key->fileKey != kNoFileKey) return Failed("a key of the hive was found below a new one");
  Hive::Node added = 0;
  if (!edit.AddKey(parent, key->name, ValuesOf(*key), &added)) {
    return Failed(Reason(edit.LastRefusal()));
  }
  for (const auto& [unused, child] : key->subkeys) {
    if (!AddTree(edit, added, child, depth + 1)) return false;
  }
  return true;
}
