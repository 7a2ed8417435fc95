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

// The full path of the file that the profile functions read for `path`: a
// bare file name lies in the Windows directory, any other path is taken from
// the current directory. A path that cannot be resolved is given back as it
// is (the profile functions find nothing there).
std::string ProfileFullPath(Env& env, const std::string& path);

class CIni {
 public:
  explicit CIni(Env& env);
  CIni(Env& env, std::string path);

  void SetPath(std::string path);
  const std::string& GetPath() const { return path_; }

  // A missing or empty value gives `def` (or "" when `def` is null).
  std::string ReadString(const std::string& section, const std::string& key,
                         const char* def = nullptr) const;
  // The value read as a number (the service's integer syntax), else `def`.
  uint32_t ReadInt(const std::string& section, const std::string& key, int32_t def) const;
  // 1 when ReadInt gives a non-zero value, else 0.
  int ReadBool(const std::string& section, const std::string& key, int32_t def) const;
  // The value converted like atof; `def` is passed as text with six
  // significant digits.
  double ReadDouble(const std::string& section, const std::string& key, double def) const;
  // Appends the section's key names in file order; returns the list's new size,
  // or 0 (list untouched) when the section is missing or has no keys. A list
  // longer than the 4096-character buffer is read whole; empty names (lines
  // such as "=value") are passed over and the names after them still count.
  int ReadKeyNames(const std::string& section, StringList& names) const;
  // Adds or replaces one entry per key; returns the map's new size, or 0 (map
  // untouched) when the section is missing or has no keys.
  int ReadSection(const std::string& section, SectionMap& map) const;

  // A failed write is reported to the user in a message box.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInt(const std::string& section, const std::string& key, int32_t value);
  void WriteBool(const std::string& section, const std::string& key, int32_t value);
  void WriteDouble(const std::string& section, const std::string& key, double value);
  // Deletes one key, or with a null key the whole section; reports nothing.
  void DeleteKey(const std::string& section, const char* key);
  // Asks the service to write out what it holds of the file; clears the
  // dirty flag.
  void Flush();
  // Moves every key of `from` into `to` (same-named keys there are replaced)
  // and removes `from`. A key whose copy fails stays in `from`, and so does
  // the section.
  void RenameSection(const std::string& from, const std::string& to);
  // Moves a value to a new key name; a missing key leaves the new key empty.
  // The old key stays when the copy fails.
  void RenameKey(const std::string& section, const std::string& from, const std::string& to);
  // Writes every entry of the map; keys of the section that the map lacks stay.
  void WriteSection(const std::string& section, const SectionMap& map);

  // False, with the reason in `error`, when the file is there but the
  // profile functions cannot read it (too large, locked by another program, a
  // folder): every read would give its default, as for a missing file. A
  // missing file is readable: it is simply empty.
  bool Readable(uint32_t* error) const;

  // 1 after any write or delete through this object, 0 after construction
  // and after Flush.
  int Dirty() const { return dirty_; }

 private:
  // The section's key-name list, read whole, without its empty names.
  bool ReadNameList(const std::string& section, StringList& names) const;
  bool Write(const char* section, const char* key, const char* value);

  Env& env_;
  std::string path_;
  int dirty_ = 0;
};
