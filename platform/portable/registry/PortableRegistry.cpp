#include "platform/portable/registry/PortableRegistry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/SystemMessages.h"
#include "platform/portable/files/HostFile.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryTree.h"
#include "platform/portable/text/Text.h"

namespace {

// Registry files larger than this are not read (a registry of this program's
// size is a few kilobytes).
constexpr std::uintmax_t kMaxFileBytes = 256u << 20;

// What the A functions see of a value's data: string types in code page
// 1252, one byte per stored UTF-16 code unit; other types as stored.
std::string AnsiData(const RegistryValue& value) {
  if (!IsRegistryStringType(value.type)) return value.data;
  return Utf16ToCp1252(Utf16LeUnits(value.data));
}

}  // namespace

struct PortableRegistry::State {
  std::shared_ptr<RegistryKeyNode> root = std::make_shared<RegistryKeyNode>();
  std::map<RegKey, std::shared_ptr<RegistryKeyNode>> handles;
  RegKey nextHandle = 0x1000;  // never reused, so a stale handle stays invalid
  bool changed = false;
  // The form to write: that of the file loaded, REGEDIT4 when none was.
  RegistryFileFormat format = RegistryFileFormat::kAnsi;

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
  // and CreateKey. Any failure leaves 0 in `result`.
  uint32_t Open(RegKey parent, const char* subkey, bool create, RegKey* result, bool* created) {
    if (result == nullptr) return kErrorInvalidParameter;
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
      if (create) {
        node = node->AddSubkey(name, &last);
        changed = changed || last;
      } else {
        node = node->FindSubkey(name);
        if (node == nullptr) return kErrorFileNotFound;
      }
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
  if (subkeys) *subkeys = static_cast<uint32_t>(node->subkeys.size());
  if (maxSubkeyLen) {
    size_t longest = 0;
    for (const auto& [unused, subkey] : node->subkeys) {
      longest = std::max(longest, subkey->name.size());
    }
    *maxSubkeyLen = static_cast<uint32_t>(longest);
  }
  return kErrorSuccess;
}

uint32_t PortableRegistry::EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) {
  uint32_t error = 0;
  RegistryKeyNode* node = state_->Resolve(key, &error);
  if (node == nullptr) return error;
  if (name == nullptr || nameChars == nullptr) return kErrorInvalidParameter;
  if (index >= node->subkeys.size()) return kErrorNoMoreItems;
  auto it = node->subkeys.begin();
  std::advance(it, index);
  std::string found = Utf16ToCp1252(it->second->name);
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
  if (node->SetValue(Cp1252ToUtf16(valueName), type, std::move(bytes))) state_->changed = true;
  return kErrorSuccess;
}

uint32_t PortableRegistry::CloseKey(RegKey key) {
  if (key == kHKeyLocalMachine) return kErrorSuccess;
  return state_->handles.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
}

bool PortableRegistry::LoadFile(const std::filesystem::path& file, std::string* error) {
  std::error_code ec;
  std::uintmax_t length = std::filesystem::file_size(file, ec);
  if (ec || length > kMaxFileBytes) {
    *error = file.string() + ": " + (ec ? ec.message() : "the file is too large");
    return false;
  }
  std::ifstream in(file, std::ios::binary);
  std::string bytes(static_cast<size_t>(length), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    *error = file.string() + ": the file cannot be read";
    return false;
  }
  auto root = std::make_shared<RegistryKeyNode>();
  std::string reason;
  RegistryFileFormat format = RegistryFileFormat::kAnsi;
  if (!ParseRegistryFile(bytes, root.get(), &reason, &format)) {
    *error = file.string() + ", " + reason;
    return false;
  }
  // Handles into the old contents now refer to deleted keys.
  state_->root->MarkDeleted();
  state_->root = root;
  state_->format = format;
  state_->changed = false;
  return true;
}

bool PortableRegistry::SaveFile(const std::filesystem::path& file, std::string* error) const {
  std::string text;
  if (!FormatRegistryFile(*state_->root, &text, error, state_->format)) return false;
  // Written beside the file and renamed over it, so a failure at any point
  // leaves the previous file whole.
  uint32_t result = ReplaceHostFile(file, text);
  if (result == kErrorSuccess) return true;
  std::string reason;
  *error = file.string() + ": " +
           (FindSystemMessage(result, &reason) == 0 ? reason.substr(0, reason.find_first_of("\r\n"))
                                                    : "the registry file cannot be written");
  return false;
}

bool PortableRegistry::Changed() const {
  return state_->changed;
}
