// KeyPaths: the registry path behind each open key handle, for the Env
// wrappers that speak of keys by name (restore.reg, the run log).
#pragma once

#include <string>
#include <unordered_map>

#include "platform/Env.h"

// A key as a predefined key and the path below it ("" for the key itself).
struct KeyPath {
  RegKey root = 0;
  std::string path;

  // "HKEY_LOCAL_MACHINE\path", as registry files name keys.
  std::string FullName() const;
  // This key's subkey `subkey`, its empty parts (doubled or outer
  // backslashes, which the registry skips) left out.
  KeyPath Below(const char* subkey) const;
};

class KeyPaths {
 public:
  // Where `key` leads: a predefined key, or a handle seen opened; false for
  // any other.
  bool Find(RegKey key, KeyPath* found) const;
  // Records `opened`, just opened as `subkey` of `parent`.
  void Opened(RegKey parent, const char* subkey, RegKey opened);
  void Closed(RegKey key) { handles_.erase(key); }

 private:
  std::unordered_map<RegKey, KeyPath> handles_;
};
