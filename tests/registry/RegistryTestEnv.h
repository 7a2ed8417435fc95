// An Env for the registry tests: registry calls go to a PortableRegistry (so
// the same tests run in both builds), private profiles come from an
// in-memory table, and everything else fails. It counts open handles, records
// the arguments of every SetValue call and can refuse to create chosen keys.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "platform/testing/UnavailableEnv.h"

class RegistryTestEnv : public UnavailableEnv {
 public:
  PortableRegistry registry;
  // CreateKey and OpenKey of these subkey paths, and of paths through
  // them, fail with error 5.
  std::set<std::string> refusedKeys;
  // One SetValue call as made: the value name (a null name as ""), the type
  // and exactly the bytes the size covers.
  struct SetCall {
    std::string name;
    uint32_t type = 0;
    std::string data;
  };
  std::vector<SetCall> sets;
  // section -> key/value lines in file order, for every profile path.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> profile;

  size_t OpenHandles() const { return open_.size(); }
  // A path that is a refused key or passes through one.
  bool Refused(const char* subkey) const {
    if (subkey == nullptr) return false;
    const std::string path = subkey;
    for (const std::string& refused : refusedKeys) {
      if (path == refused || path.starts_with(refused + "\\")) return true;
    }
    return false;
  }
  int SetsThroughUnknownHandles() const { return badSets_; }

  uint32_t OpenKey(RegKey parent, const char* subkey, RegKey* result) override {
    if (Refused(subkey)) return Refuse(result);
    return Track(registry.OpenKey(parent, subkey, result), result);
  }
  uint32_t CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) override {
    if (Refused(subkey)) return Refuse(result);
    return Track(registry.CreateKey(parent, subkey, result, created), result);
  }
  uint32_t QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen) override {
    return registry.QueryKeyInfo(key, subkeys, maxSubkeyLen);
  }
  uint32_t EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) override {
    return registry.EnumKey(key, index, name, nameChars);
  }
  uint32_t QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                      uint32_t* size) override {
    return registry.QueryValue(key, name, type, data, size);
  }
  uint32_t SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                    uint32_t size) override {
    if (key != kHKeyLocalMachine && !open_.count(key)) ++badSets_;
    sets.push_back({name ? name : "", type,
                    data ? std::string(reinterpret_cast<const char*>(data), size) : ""});
    return registry.SetValue(key, name, type, data, size);
  }
  uint32_t CloseKey(RegKey key) override {
    open_.erase(key);
    return registry.CloseKey(key);
  }

  // GetPrivateProfileSectionA: "name=value" for each line of the section.
  uint32_t ProfileReadSection(const char* section, char* buffer, uint32_t size,
                              const std::string&) override {
    std::string list;
    if (auto lines = profile.find(section ? section : ""); lines != profile.end()) {
      for (const auto& [name, value] : lines->second) list += name + "=" + value + '\0';
    }
    return CopyCut(list, buffer, size);
  }

  // GetPrivateProfileStringA for one section: the key list (key null) or one
  // value, cut to the buffer as Windows cuts it.
  uint32_t ProfileReadString(const char* section, const char* key, const char* def, char* buffer,
                             uint32_t size, const std::string&) override {
    if (size == 0 || section == nullptr) return 0;
    auto lines = profile.find(section);
    if (key == nullptr) {
      std::string list;
      if (lines != profile.end()) {
        for (const auto& [name, value] : lines->second) list += name + '\0';
      }
      return CopyCut(list, buffer, size);
    }
    std::string text = def ? def : "";
    if (lines != profile.end()) {
      for (const auto& [name, value] : lines->second) {
        if (name == key) {
          text = value;
          break;
        }
      }
    }
    if (text.size() >= size) text.resize(size - 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<uint32_t>(text.size());
  }

 private:
  // A list of NUL-ended names, closed by one more NUL, cut as Windows cuts it.
  static uint32_t CopyCut(const std::string& list, char* buffer, uint32_t size) {
    if (list.size() + 1 <= size) {
      std::memcpy(buffer, list.data(), list.size());
      buffer[list.size()] = 0;
      return static_cast<uint32_t>(list.size());
    }
    if (size < 2) return buffer[0] = 0;
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = buffer[size - 1] = 0;
    return size - 2;
  }
  // A refused open leaves a null handle, as every failed open does.
  static uint32_t Refuse(RegKey* result) {
    if (result) *result = 0;
    return kErrorAccessDenied;
  }
  uint32_t Track(uint32_t rc, RegKey* result) {
    if (rc == kErrorSuccess) open_.insert(*result);
    return rc;
  }
  std::set<RegKey> open_;
  int badSets_ = 0;
};
