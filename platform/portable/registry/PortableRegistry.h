// PortableRegistry: an in-memory registry with the observable behaviour of
// the Windows registry for the operations in Env, loaded from and saved to a
// registry file (REGEDIT4 / "Windows Registry Editor Version 5.00" text).
// Only HKEY_LOCAL_MACHINE exists.
//
// A string value written without its final NUL from memory whose next byte
// is a NUL is stored with that NUL, as Windows stores it. Opening a null or
// empty subkey of HKEY_LOCAL_MACHINE gives back the predefined handle, and a
// failed open or create leaves 0 in the result.
//
// Names, and the data of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ, are kept
// as Unicode, as Windows keeps them. These calls speak code page 1252, as the
// A functions do: names and strings given become Unicode on the way in, one
// character per byte; on the way out each UTF-16 code unit becomes one byte,
// '?' where the code page has no such character, and sizes are those of that
// ANSI form. So text from a Unicode registry file that the code page cannot
// hold survives a run, though these calls see it as '?'.
//
// Where Wine and Windows differ, this follows Windows: subkeys enumerate
// sorted by their upper-case names (Wine sorts by lower-case names, which
// puts [ ] ^ _ ` before the letters).
// Handles are never reused; a closed or unknown handle gives error 6, and a
// handle to a key that a LoadFile replaced gives error 1018.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/Env.h"

class RegistryStore;

class PortableRegistry {
 public:
  PortableRegistry();
  ~PortableRegistry();

  uint32_t OpenKey(RegKey parent, const char* subkey, RegKey* result);
  uint32_t CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created);
  uint32_t QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen);
  uint32_t EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars);
  uint32_t QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size);
  uint32_t SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                    uint32_t size);
  uint32_t CloseKey(RegKey key);

  // Replaces the contents with a registry file's; a file that cannot be read
  // leaves the registry unchanged and `error` says why (with its line number).
  // Every line is checked here, but the file is kept as its text with an
  // index of its keys (RegistryFileText): a key's subkeys and values are
  // read from it when a call first needs them.
  bool LoadFile(const std::filesystem::path& file, std::string* error);
  // Writes the contents atomically, in the form of the file last loaded (see
  // RegistryFile.h), or as REGEDIT4 when none was; in UTF-16LE "Windows
  // Registry Editor Version 5.00" when code page 1252 cannot hold them.
  // Keys whose values no call changed are written as they stand in the file
  // loaded (see WriteRegistryFile), and the file is written as it is made,
  // never held whole in memory.
  bool SaveFile(const std::filesystem::path& file, std::string* error) const;
  // Replaces the contents with a store's (RegistryStore.h), whose keys are
  // read as calls need them; keys the store cannot hold cannot be created
  // (error 5). SaveStore gives the store the changes.
  void Attach(std::shared_ptr<RegistryStore> store);
  bool SaveStore(std::string* error) const;
  // Applies a registry file's text as `reg import` does: keys and values are
  // added or replaced, "[-key]" deletes a key with everything below it and
  // "name"=- a value. Only the keys it names are read from the file loaded,
  // so that a registry of any size costs little more than its text. False,
  // with the reason, and nothing changed, when the text cannot be read.
  bool ImportText(std::string_view bytes, std::string* error);
  // True once a key was created or a value set to another type or other data
  // since construction or LoadFile: creating a key that exists, or storing
  // what a value already holds, changes nothing.
  bool Changed() const;
  // How many keys were set aside in the spill so far (for tests and
  // benchmarks): a key this run created and closed goes there once many
  // more were closed after it, and comes back when a call needs it.
  uint64_t SpilledKeys() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};
