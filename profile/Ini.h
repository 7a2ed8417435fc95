// CIni: one profile (INI) file, named by its path, read and written through
// the platform's private-profile service. It keeps no copy of the file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Env.h"

// The entries of one or more sections: key name to value, keys compared with
// exact letter case.
using SectionMap = std::map<std::string, std::string>;
using StringList = std::vector<std::string>;

class CIni {
 public:
  explicit CIni(Env& env);
  CIni(Env& env, std::string path);

  void SetPath(std::string path);
  const std::string& GetPath() const { return path_; }

  // A missing or empty value gives `def` (or "" when `def` is null).
  std::string ReadString(const std::string& section, const std::string& key,
                         const char* def = nullptr) const;
  // Appends the section's key names in file order; returns the list's new size,
  // or 0 (list untouched) when the section is missing or has no keys.
  int ReadKeyNames(const std::string& section, StringList& names) const;
  // Adds or replaces one entry per key; returns the map's new size, or 0 (map
  // untouched) when the section is missing or has no keys.
  int ReadSection(const std::string& section, SectionMap& map) const;

 private:
  Env& env_;
  std::string path_;
  int dirty_ = 0;
};
