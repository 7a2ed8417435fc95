// Hive: a registry hive file (such as Windows\System32\config\SOFTWARE)
// through libhivex, the library offline Windows tools use. The base block
// is checked first (HiveHeader), so the library never opens a hive Windows
// left dirty or one with a damaged header.
//
// The library reads values, changes them and writes the hive out; keys,
// their names and subkey lists are read and changed here (HiveCells,
// HiveEdit): the library cannot read a key of more than 70,000 subkeys,
// rewrites a parent's whole subkey list for each key it adds, and sorts
// and hashes names beyond ASCII in ways Windows does not. Changes stay in
// memory until Commit, which is crash-safe. What the library would write
// wrongly is refused before it reaches the library:
//   - names it cannot take: not valid text, a NUL, a key name with a
//     backslash or of more than 255 characters (names are converted to
//     UTF-8 here; a malformed one would land on the default value);
//   - values of more than 16,344 bytes, which the library writes without the
//     big-data record that Windows expects;
//   - a second spelling of a name: the library matches letter case only in
//     ASCII, so names are compared here by Windows' rule;
// and once a change fails, nothing is committed: a failed write can leave a
// broken value entry behind.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive/HiveHeader.h"

class HiveCells;
class HiveEdit;

struct HiveValue {
  std::u16string name;  // empty for the key's default value
  uint32_t type = 0;
  std::string data;
};

class Hive {
 public:
  static constexpr size_t kMaxValueBytes = 16344;

  enum class Refusal {
    kNone,
    kBadName,        // not a name a key or value can have
    kValueTooLarge,  // more than kMaxValueBytes of data
    kLibraryFailed,  // the library refused or failed the change
    kBroken,         // an earlier change failed: nothing more is done
    kMalformed,      // a record of the hive is not as a hive's must be
    kHiveFull,       // the hive would pass the largest size a hive can have
    kWriteFailed,    // the file being committed could not be written
    kOldHiveName,    // a key name beyond U+00FF, which a hive older than 1.5 cannot list
  };

  using Node = size_t;  // a key's offset in the hive, as the library names it

  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  // Opens `file` for reading, or for writing with `write`; null with the
  // reason in `check` (and the header, as far as it was read, in `header`).
  static std::unique_ptr<Hive> Open(const std::filesystem::path& file, bool write, HiveCheck* check,
                                    HiveHeader* header = nullptr);

  Node Root() const;
  uint32_t MinorVersion() const { return minorVersion_; }
  // The reads: false when the key cannot be read. A key's subkeys must be as
  // many as its record counts.
  bool Name(Node key, std::u16string* name) const;
  bool Subkeys(Node key, std::vector<Node>* subkeys) const;
  // The subkey of `key` named `name` in any letter case, by Windows' rule;
  // false when there is none (or it cannot be read).
  bool Child(Node key, std::u16string_view name, Node* child) const;
  bool Values(Node key, std::vector<HiveValue>* values) const;
  // Whether `key` can be read and changed as a commit reads and changes
  // it: its record, name, subkeys (each with a readable name), values and
  // security record.
  bool Sound(Node key) const;

  // Whether a key or its values can be written as they stand.
  static Refusal CheckKeyName(std::u16string_view name);
  static Refusal CheckValues(const std::vector<HiveValue>& values);

  // Replaces all values of `key` with `values`; false with the reason in
  // LastRefusal().
  bool SetValues(Node key, const std::vector<HiveValue>& values);
  Refusal LastRefusal() const { return refusal_; }

  // Writes the hive with its changes in place of `file` (the file opened):
  // to a temporary file beside it, where `edits` then adds and deletes keys,
  // made durable, opened again and checked, then renamed over `file`, and
  // the folder made durable. `file` is the old hive or the new one whatever
  // happens. False, with `file` untouched, after a failed change, when
  // `edits` returns false, or when any step fails.
  using Edits = std::function<bool(HiveEdit&)>;
  bool Commit(const std::filesystem::path& file, const Edits& edits = nullptr);

 private:
  Hive(void* handle, std::FILE* file, uint32_t minorVersion);
  bool Refuse(Refusal refusal);
  bool Edit(std::FILE* file, const Edits& edits);
  // The cell of a key's record, from its node.
  static bool CellOf(Node key, uint32_t* cell);

  void* handle_;     // hive_h, kept out of this header
  std::FILE* file_;  // the hive as opened, for the reads of keys
  std::unique_ptr<HiveCells> cells_;
  uint32_t minorVersion_;
  Refusal refusal_ = Refusal::kNone;
  bool broken_ = false;
};
