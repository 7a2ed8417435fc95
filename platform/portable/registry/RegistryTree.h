// The keys and values of an in-memory registry, shared by PortableRegistry
// and the registry-file reader and writer.
//
// As in the Windows registry, names are Unicode (UTF-16 code units) and the
// data of the string types is stored as UTF-16LE bytes; the ANSI view that
// the A functions give is made from it at the boundary (PortableRegistry).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Limits of a Windows registry: key names of up to 255 characters, value
// names of up to 16383, trees of up to 512 levels.
constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;
constexpr size_t kMaxKeyDepth = 512;

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: the types whose data is text, kept
// as UTF-16LE bytes.
bool IsRegistryStringType(uint32_t type);
// The UTF-16LE bytes of `text`.
std::string Utf16LeBytes(std::u16string_view text);
// The code units of UTF-16LE bytes; a last odd byte is not read.
std::u16string Utf16LeUnits(std::string_view bytes);

struct RegistryValue {
  std::u16string name;  // as first written
  uint32_t type = 0;
  // The bytes as stored: for the string types UTF-16LE, whatever their
  // length; for the others exactly the bytes written.
  std::string data;
};

// The key of a registry file's index (RegistryFileText) that a node stands
// for; kNoFileKey for a node made any other way.
constexpr uint32_t kNoFileKey = 0xFFFFFFFF;

struct RegistryKeyNode;

// A subkey in its parent's map: its node, or no node while its tree lies in
// the registry's spill (RegistrySpill), at `spilledAt`. A spilled subkey
// costs its parent no more than its entry in the map.
struct RegistrySubkey {
  std::shared_ptr<RegistryKeyNode> node;
  uint64_t spilledAt = 0;
  bool Spilled() const { return node == nullptr; }
};

struct RegistryKeyNode : std::enable_shared_from_this<RegistryKeyNode> {
  std::u16string name;  // as first created
  size_t depth = 0;     // 0 for HKEY_LOCAL_MACHINE itself
  // The key whose map holds this one; not to be followed once this key is
  // deleted, since the parent may be gone.
  RegistryKeyNode* parent = nullptr;
  bool deleted = false;
  // A key read from a registry file keeps its subkeys and values in the
  // file's text until they are needed: while a flag is set, the map it names
  // is still empty and RegistryFileText fills it from `fileKey`. Until a
  // value is set to something new (`edited`), the key's text in the file
  // stays what it was, and it is written back as it stands.
  uint32_t fileKey = kNoFileKey;
  bool subkeysPending = false;
  bool valuesPending = false;
  bool edited = false;
  // Both maps are keyed by UnicodeNameKey(name), which also gives the order
  // of enumeration.
  std::map<std::u16string, RegistrySubkey> subkeys;
  std::map<std::u16string, RegistryValue> values;

  // Null for a subkey that is not there, and for one in the spill, which
  // only PortableRegistry can bring back.
  RegistryKeyNode* FindSubkey(std::u16string_view subkey) const;
  // The same for a name in code page 1252, as the A functions give names.
  RegistryKeyNode* FindSubkey(std::string_view ansiSubkey) const;
  // Finds or creates the subkey; `created` tells which. Null for a subkey in
  // the spill, as FindSubkey.
  RegistryKeyNode* AddSubkey(std::u16string_view subkey, bool* created);
  const RegistryValue* FindValue(std::u16string_view value) const;
  // Sets a value, keeping the letter case of an existing name. False when
  // the value already held this type and these bytes, so nothing changed.
  bool SetValue(std::u16string_view value, uint32_t type, std::string data);
  // Removes a subkey with its whole tree, marking every removed key deleted.
  void RemoveSubkey(std::u16string_view subkey);
  void RemoveValue(std::u16string_view value);
  // Marks this key and everything below it deleted, for the handles that
  // still refer to them.
  void MarkDeleted();
};

// Splits a registry path into its key names, skipping empty ones (a trailing
// or doubled backslash). Returns 0, 161 for a path that starts with a
// backslash, or 87 for a key name longer than kMaxKeyNameChars.
uint32_t SplitRegistryPath(std::u16string_view path, std::vector<std::u16string_view>* names);

// True when both trees hold the same keys and values, names in the same
// letter case. Trees in memory only: a spilled subkey is never the same.
bool SameRegistryTree(const RegistryKeyNode& a, const RegistryKeyNode& b);
