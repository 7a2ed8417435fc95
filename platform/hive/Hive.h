// Hive: a registry hive file (such as Windows\System32\config\SOFTWARE)
// through libhivex, the library offline Windows tools use. The base block
// is checked first (HiveHeader), so the library never opens a hive Windows
// left dirty or one with a damaged header.
//
// Changes stay in memory until Commit, which is crash-safe. What the library
// would write wrongly is refused before it reaches the library:
//   - names it cannot take: not valid text, a NUL, a key name with a
//     backslash or of more than 255 characters (names are converted to
//     UTF-8 here; a malformed one would land on the default value);
//   - values of more than 16,344 bytes, which the library writes without the
//     big-data record that Windows expects;
//   - a second spelling of a name: the library matches letter case only in
//     ASCII, so names are compared here by Windows' rule;
// and once a change fails, nothing is committed: a failed write can leave a
// broken value entry behind. The library sorts and hashes key names beyond
// ASCII in ways Windows does not: Commit puts the subkey lists of every key
// that got a new subkey in Windows' order, with Windows' hashes
// (HiveLists), so that Windows finds them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive/HiveHeader.h"

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
  // The reads: false when the library cannot read the key.
  bool Name(Node key, std::u16string* name) const;
  bool Subkeys(Node key, std::vector<Node>* subkeys) const;
  // The subkey of `key` named `name` in any letter case, by Windows' rule;
  // false when there is none (or it cannot be read).
  bool Child(Node key, std::u16string_view name, Node* child) const;
  bool Values(Node key, std::vector<HiveValue>* values) const;

  // The changes; false with the reason in LastRefusal().
  // Adds the subkey `name`, or gives the one there in any letter case.
  bool AddSubkey(Node key, std::u16string_view name, Node* child, bool* created);
  // Adds the subkey `name`, which the caller knows is not there (a key it
  // made, or one whose subkeys it read and deleted as needed): no search
  // of the siblings, which costs a read of every one.
  bool NewSubkey(Node key, std::u16string_view name, Node* child);
  // Deletes `key` with everything below it.
  bool DeleteSubkey(Node key);
  // Replaces all values of `key` with `values`.
  bool SetValues(Node key, const std::vector<HiveValue>& values);
  Refusal LastRefusal() const { return refusal_; }

  // Writes the hive with its changes in place of `file` (the file opened):
  // to a temporary file beside it, made durable, opened again and checked,
  // then renamed over `file`, and the folder made durable. `file` is the old
  // hive or the new one whatever happens. False, with `file` untouched,
  // after a failed change or when any step fails.
  bool Commit(const std::filesystem::path& file);

 private:
  explicit Hive(void* handle) : handle_(handle) {}
  bool Refuse(Refusal refusal);

  void* handle_;  // hive_h, kept out of this header
  Refusal refusal_ = Refusal::kNone;
  bool broken_ = false;
  std::set<Node> sortLists_;  // keys that got a new subkey
};
