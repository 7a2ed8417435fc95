#include "platform/portable/registry/PortableRegistry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/SystemMessages.h"
#include "platform/portable/files/HostFile.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryFileText.h"
#include "platform/portable/registry/RegistrySpill.h"
#include "platform/portable/registry/RegistryStore.h"
#include "platform/portable/registry/RegistryTree.h"
#include "platform/portable/text/Text.h"

namespace fs = std::filesystem;

namespace {

// What the A functions see of a value's data: string types in code page
// 1252, one byte per stored UTF-16 code unit; other types as stored.
std::string AnsiData(const RegistryValue& value) {
  if (!IsRegistryStringType(value.type)) return value.data;
  return Utf16ToCp1252(Utf16LeUnits(value.data));
}

// A new file written in pieces beside `file` and, once whole and synced,
// renamed over it, so that `file` is always either the old or the new
// content (as ReplaceHostFile does for bytes held whole). It keeps the
// permissions of the file it replaces.
class Replacement {
 public:
  explicit Replacement(fs::path file) : file_(std::move(file)) {}
  ~Replacement() { Abandon(); }

  // Writes a piece; the first one creates the temporary file.
  bool Write(std::string_view bytes) {
    if (error_ != kErrorSuccess) return false;
    if (out_ == nullptr) {
      temporary_ = UnusedTemporary(file_.parent_path(), "~registry");
      errno = 0;
      out_ = OpenHostFile(temporary_, "wb");
      if (out_ == nullptr) {
        temporary_.clear();
        return Failed(WindowsErrorFromErrno(kErrorAccessDenied));
      }
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) {
      return Failed(WindowsErrorFromErrno(kErrorWriteFault));
    }
    return true;
  }

  // Puts the new file in place; 0 or an error code.
  uint32_t Commit() {
    if (error_ != kErrorSuccess) return error_;
    if (out_ == nullptr && !Write({})) return error_;
    bool synced = SyncHostFile(out_);
    if (!synced) Failed(WindowsErrorFromErrno(kErrorWriteFault));
    bool closed = std::fclose(out_) == 0;
    out_ = nullptr;
    if (!closed && synced) Failed(WindowsErrorFromErrno(kErrorWriteFault));
    if (error_ != kErrorSuccess) return error_;
    std::error_code ec;
    fs::file_status old = fs::status(file_, ec);
    if (fs::exists(old)) fs::permissions(temporary_, old.permissions(), ec);
    fs::rename(temporary_, file_, ec);
    if (ec) {
      Failed(WindowsError(ec, kErrorAccessDenied));
      return error_;
    }
    temporary_.clear();
    return kErrorSuccess;
  }

  uint32_t Error() const { return error_; }

 private:
  bool Failed(uint32_t error) {
    if (error_ == kErrorSuccess) error_ = error;
    return false;
  }
  void Abandon() {
    if (out_ != nullptr) std::fclose(out_);
    out_ = nullptr;
    std::error_code ec;
    if (!temporary_.empty()) fs::remove(temporary_, ec);
    temporary_.clear();
  }

  fs::path file_;
  fs::path temporary_;
  std::FILE* out_ = nullptr;
  uint32_t error_ = kErrorSuccess;
};

}  // namespace

struct PortableRegistry::State {
  std::shared_ptr<RegistryKeyNode> root = std::make_shared<RegistryKeyNode>();
  // The file loaded, which holds what no call has needed yet; null when none was.
  std::shared_ptr<const RegistryFileText> file;
  // The store attached instead of a file; null when none is.
  std::shared_ptr<RegistryStore> store;
  std::map<RegKey, std::shared_ptr<RegistryKeyNode>> handles;
  RegKey nextHandle = 0x1000;  // never reused, so a stale handle stays invalid
  bool changed = false;
  // The form to write: that of the file loaded, REGEDIT4 when none was.
  RegistryFileFormat format = RegistryFileFormat::kAnsi;

  // Keys this run closed, oldest first, that may go to the spill once
  // kClosedKept more have been closed after them.
  std::deque<std::weak_ptr<RegistryKeyNode>> closed;
  RegistrySpill spill;

  // A key's subkeys and values still in the file loaded, once a call needs
  // them. A subkey in the spill stays there: its entry answers for it.
  void Subkeys(RegistryKeyNode* node) {
    if (!node->subkeysPending) return;
    if (file) file->FillSubkeys(node);
    if (store) store->FillSubkeys(node);
  }
  void Values(RegistryKeyNode* node) {
    if (!node->valuesPending) return;
    if (file) file->FillValues(node);
    if (store) store->FillValues(node);
  }
  // Brings the subkey `name` of `node` back from the spill if it lies
  // there; false when the spill cannot be read.
  bool BringBack(RegistryKeyNode* node, std::u16string_view name) {
    auto it = node->subkeys.find(UnicodeNameKey(name));
    return it == node->subkeys.end() || spill.Restore(&it->second, node);
  }

  // The subkey `name` of `node`, read back from the spill if it lies there,
  // or created when `create`; null with the error in `error`.
  RegistryKeyNode* Child(RegistryKeyNode* node, std::u16string_view name, bool create,
                         bool* created, uint32_t* error) {
    Subkeys(node);
    *created = false;
    if (!BringBack(node, name)) {
      *error = kErrorReadFault;
      return nullptr;
    }
    RegistryKeyNode* child = node->FindSubkey(name);
    if (child != nullptr || !create) {
      if (child == nullptr) *error = kErrorFileNotFound;
      return child;
    }
    *error = store ? store->MayCreate(*node, name) : 0;
    if (*error != 0) return nullptr;
    return node->AddSubkey(name, created);
  }

  // A closed key goes to the spill once many others have been closed after
  // it, when its tree is small, holds nothing of the file loaded, and no
  // handle is open on it or below it: a run works on few keys at a time,
  // and a key it comes back to is read back.
  void Closed(const std::shared_ptr<RegistryKeyNode>& node) {
    if (node->fileKey != kNoFileKey) return;
    closed.push_back(node);
    if (closed.size() <= kClosedKept) return;
    std::shared_ptr<RegistryKeyNode> oldest = closed.front().lock();
    closed.pop_front();
    // A key not deleted is still in its parent's map.
    if (!oldest || oldest->deleted || oldest->parent == nullptr) return;
    auto it = oldest->parent->subkeys.find(UnicodeNameKey(oldest->name));
    if (it == oldest->parent->subkeys.end() || it->second.node != oldest) return;
    std::unordered_set<const RegistryKeyNode*> open;
    for (const auto& [handle, key] : handles) open.insert(key.get());
    size_t budget = kSpilledTreeKeys;
    if (SmallAndClosed(*oldest, open, &budget) && spill.Spill(&it->second)) ++spilled;
  }
  static bool SmallAndClosed(const RegistryKeyNode& node,
                             const std::unordered_set<const RegistryKeyNode*>& open,
                             size_t* budget) {
    if (*budget == 0 || open.count(&node) != 0 || node.subkeysPending || node.valuesPending) {
      return false;
    }
    --*budget;
    for (const auto& [unused, subkey] : node.subkeys) {
      if (subkey.Spilled()) {
        if (*budget == 0) return false;
        --*budget;
      } else if (!SmallAndClosed(*subkey.node, open, budget)) {
        return false;
      }
    }
    return true;
  }
  uint64_t spilled = 0;
  static constexpr size_t kClosedKept = 256;
  static constexpr size_t kSpilledTreeKeys = 64;

  // The key behind a handle, or null with the error code in `error`.
  RegistryKeyNode* Resolve(RegKey key, uint32_t* error) {
    RegistryKeyNode* node = nullptr;
    if (key == kHKeyLocalMachine) {
      node = root.get();
    } else {
      auto it = handles.find(key);
      if (it != handles.end()) node = it->second.get();
    }
    if (node == nullptr) {
      *error = kErrorInvalidHandle;
      return nullptr;
    }
    if (node->deleted) {
      *error = kErrorKeyDeleted;
      return nullptr;
    }
    return node;
  }

  // The handle shares ownership of the key, so it stays valid (as deleted)
  // when the key is removed from the tree.
  RegKey NewHandle(RegistryKeyNode* node) {
    RegKey handle = nextHandle;
    nextHandle += 4;
    handles.emplace(handle, node->shared_from_this());
    return handle;
  }

  // Opens (or creates) `subkey` below `parent`; the shared core of OpenKey
  // and CreateKey. Any failure leaves 0 in `result`, but for an open below a
  // null parent, which fails before the handle is touched.
  uint32_t Open(RegKey parent, const char* subkey, bool create, RegKey* result, bool* created) {
    if (result == nullptr) return kErrorInvalidParameter;
    if (parent == 0 && !create) return kErrorInvalidHandle;
    *result = 0;
    uint32_t error = 0;
    RegistryKeyNode* node = Resolve(parent, &error);
    if (node == nullptr) return error;
    std::u16string path = Cp1252ToUtf16(subkey ? subkey : "");
    std::vector<std::u16string_view> names;
    error = SplitRegistryPath(path, &names);
    if (error != kErrorSuccess) return error;
    if (node->depth + names.size() > kMaxKeyDepth) return kErrorInvalidParameter;
    // Opening the predefined key itself gives back the predefined handle;
    // creating it gives a new handle, like any other key.
    if (names.empty() && !create && parent == kHKeyLocalMachine) {
      *result = kHKeyLocalMachine;
      return kErrorSuccess;
    }
    // An empty path opens the key itself, reported as created.
    bool last = names.empty();
    for (std::u16string_view name : names) {
      node = Child(node, name, create, &last, &error);
      if (node == nullptr) return error;
      changed = changed || last;
    }
    if (created) *created = last;
    *result = NewHandle(node);
    return kErrorSuccess;
  }
};

PortableRegistry::PortableRegistry() : state_(std::make_unique<State>()) {}
PortableRegistry::~PortableRegistry() = default;

uint32_t PortableRegistry::OpenKey(RegKey parent, const char* subkey, RegKey* result) {
  return state_->Open(parent, subkey, false, result, nullptr);
}

uint32_t PortableRegistry::CreateKey(RegKey parent, const char* subkey, RegKey* result,
                                     bool* created) {
  return state_->Open(parent, subkey, true, result, created);
}

uint32_t PortableRegistry::QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen) {
  uint32_t error = 0;
  RegistryKeyNode* node = state_->Resolve(key, &error);
  if (node == nullptr) return error;
  state_->Subkeys(node);
  if (subkeys) *subkeys = static_cast<uint32_t>(node->subkeys.size());
  if (maxSubkeyLen) {
    // A name's key has as many code units as the name.
    size_t longest = 0;
    for (const auto& [key, unused] : node->subkeys) longest = std::max(longest, key.size());
    *maxSubkeyLen = static_cast<uint32_t>(longest);
  }
  return kErrorSuccess;
}

uint32_t PortableRegistry::EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) {
  uint32_t error = 0;
  RegistryKeyNode* node = state_->Resolve(key, &error);
  if (node == nullptr) return error;
  if (name == nullptr || nameChars == nullptr) return kErrorInvalidParameter;
  state_->Subkeys(node);
  if (index >= node->subkeys.size()) return kErrorNoMoreItems;
  auto it = node->subkeys.begin();
  std::advance(it, index);
  std::shared_ptr<const RegistryKeyNode> subkey = it->second.node;
  if (it->second.Spilled()) subkey = state_->spill.Copy(it->second, node->depth + 1);
  if (!subkey) return kErrorReadFault;
  std::string found = Utf16ToCp1252(subkey->name);
  // The name needs room for its NUL; if it has none, nothing is written.
  if (found.size() >= *nameChars) return kErrorMoreData;
  std::memcpy(name, found.c_str(), found.size() + 1);
  *nameChars = static_cast<uint32_t>(found.size());
  return kErrorSuccess;
}

uint32_t PortableRegistry::QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                                      uint32_t* size) {
  uint32_t error = 0;
  RegistryKeyNode* node = state_->Resolve(key, &error);
  if (node == nullptr) return error;
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  state_->Values(node);
  const RegistryValue* value = node->FindValue(Cp1252ToUtf16(name ? name : ""));
  if (value == nullptr) {
    // The type is cleared; so is the size when no buffer was given.
    if (type) *type = kRegNone;
    if (data == nullptr && size != nullptr) *size = 0;
    return kErrorFileNotFound;
  }
  // `type` and `size` may point to one variable: the buffer's size is read
  // first, the type stored after it, and the size stored last.
  std::string ansi = AnsiData(*value);
  uint32_t stored = static_cast<uint32_t>(ansi.size());
  uint32_t result = kErrorSuccess;
  if (data != nullptr) {
    uint32_t capacity = *size;
    if (capacity < stored) {
      result = kErrorMoreData;
    } else {
      std::memcpy(data, ansi.data(), stored);
      // A string stored without its NUL gets one in the buffer when there is
      // room, not counted in the size, so callers that expect one find it.
      if (IsRegistryStringType(value->type) && stored > 0 && stored < capacity &&
          ansi.back() != '\0') {
        data[stored] = 0;
      }
    }
  }
  if (type) *type = value->type;
  if (size) *size = stored;
  return result;
}

uint32_t PortableRegistry::SetValue(RegKey key, const char* name, uint32_t type,
                                    const uint8_t* data, uint32_t size) {
  uint32_t error = 0;
  RegistryKeyNode* node = state_->Resolve(key, &error);
  if (node == nullptr) return error;
  if (data == nullptr && size > 0) return kErrorNoAccess;
  std::string_view valueName = name ? name : "";
  if (valueName.size() > kMaxValueNameChars) return kErrorInvalidParameter;
  size_t length = data ? size : 0;
  // A string whose last byte is not a NUL takes the NUL that follows it in
  // the caller's memory, as Windows stores it; that byte is read only then.
  if (IsRegistryStringType(type) && length > 0 && data[length - 1] != 0 && data[length] == 0) {
    ++length;
  }
  std::string bytes(reinterpret_cast<const char*>(data), length);
  if (IsRegistryStringType(type)) bytes = Utf16LeBytes(Cp1252ToUtf16(bytes));
  state_->Values(node);
  if (node->SetValue(Cp1252ToUtf16(valueName), type, std::move(bytes))) {
    node->edited = true;
    state_->changed = true;
  }
  return kErrorSuccess;
}

uint32_t PortableRegistry::CloseKey(RegKey key) {
  if (key == kHKeyLocalMachine) return kErrorSuccess;
  auto it = state_->handles.find(key);
  if (it == state_->handles.end()) return kErrorInvalidHandle;
  std::shared_ptr<RegistryKeyNode> node = std::move(it->second);
  state_->handles.erase(it);
  state_->Closed(node);
  return kErrorSuccess;
}

bool PortableRegistry::LoadFile(const std::filesystem::path& file, std::string* error) {
  auto text = std::make_shared<RegistryFileText>();
  if (!text->Load(file, error)) return false;
  // Handles into the old contents now refer to deleted keys.
  state_->root->MarkDeleted();
  state_->root = text->Root();
  state_->file = std::move(text);
  state_->store = nullptr;
  state_->format = state_->file->Format();
  state_->changed = false;
  return true;
}

void PortableRegistry::Attach(std::shared_ptr<RegistryStore> store) {
  state_->root->MarkDeleted();
  state_->root = store->Root();
  state_->store = std::move(store);
  state_->file = nullptr;
  state_->changed = false;
}

bool PortableRegistry::SaveStore(std::string* error) const {
  if (!state_->store) {
    *error = "no registry store is attached";
    return false;
  }
  return state_->store->Save(*state_->root, &state_->spill, error);
}

bool PortableRegistry::SaveFile(const std::filesystem::path& file, std::string* error) const {
  // Written in pieces beside the file and renamed over it, so a failure at
  // any point leaves the previous file whole. The names are checked before
  // the first piece, so a registry no file can hold leaves nothing behind.
  Replacement replacement(file);
  auto write = [&replacement](std::string_view bytes) { return replacement.Write(bytes); };
  std::string reason;
  if (!WriteRegistryFile(*state_->root, state_->file.get(), state_->format, write, &reason, nullptr,
                         &state_->spill) &&
      replacement.Error() == kErrorSuccess) {
    *error = reason;
    return false;
  }
  uint32_t result = replacement.Commit();
  if (result == kErrorSuccess) return true;
  *error = file.string() + ": " +
           (FindSystemMessage(result, &reason) == 0 ? reason.substr(0, reason.find_first_of("\r\n"))
                                                    : "the registry file cannot be written");
  return false;
}

bool PortableRegistry::ImportText(std::string_view bytes, std::string* error) {
  // Checked whole first, so that a faulty file changes nothing.
  RegistryKeyNode scratch;
  if (!ParseRegistryFile(bytes, &scratch, error)) return false;
  RegistrySource source;
  if (!source.TakeBytes(std::string(bytes), error)) return false;
  auto fill = [](void* context, RegistryKeyNode* node, const std::u16string* subkey) {
    State* state = static_cast<State*>(context);
    state->Subkeys(node);
    state->Values(node);
    if (subkey != nullptr) state->BringBack(node, *subkey);
  };
  RegistryKeyNode* root = state_->root.get();
  bool ok;
  if (source.encoding == TextEncoding::kUtf16) {
    registry_text::TreeSink<char16_t> sink(root, source.encoding, fill, state_.get());
    ok = registry_text::Parser<char16_t, registry_text::TreeSink<char16_t>>(source.Units(),
                                                                            source.encoding, &sink)
             .Run(error);
  } else {
    registry_text::TreeSink<char> sink(root, source.encoding, fill, state_.get());
    ok = registry_text::Parser<char, registry_text::TreeSink<char>>(source.Bytes(), source.encoding,
                                                                    &sink)
             .Run(error);
  }
  state_->changed = true;
  if (ok && state_->spill.Broken()) {
    *error = "a part of the registry set aside during the run cannot be read back";
    return false;
  }
  return ok;
}

bool PortableRegistry::Changed() const {
  return state_->changed;
}

uint64_t PortableRegistry::SpilledKeys() const {
  return state_->spilled;
}
