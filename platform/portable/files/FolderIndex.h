// FolderIndex: what host folders hold, as the emulated machine names their
// entries, kept between calls. Windows finds a name in any letter case; a
// host that tells case apart can only answer "is there no such entry" by
// reading the whole folder, and a run that fills a folder with thousands of
// files would read it again for every new file. The index reads a folder once
// and again only when the folder's last-write time moves by a change that
// this process did not report. A change from outside that falls into the
// same tick of the file system's clock as one of this process's own changes
// goes unseen: an index serves one run, over an image locked for it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/portable/files/FolderEntries.h"

// The host spelling of a machine's name: UTF-8.
std::filesystem::path HostName(const std::string& name);

// Which host folder a path names: equal identities are one folder.
struct HostFolderId {
  std::uintmax_t device = 0;
  std::uintmax_t inode = 0;
  bool operator==(const HostFolderId&) const = default;
};
// The identity of `folder` when it is a real folder (no link to one), and
// with `writtenNs` its last-write time, from the same look.
bool IdentifyHostFolder(const std::filesystem::path& folder, HostFolderId* id,
                        int64_t* writtenNs = nullptr);

// What a path holds after a change this process made: a new regular file,
// nothing, or whatever a look at it finds.
enum class HostChange { kLookAgain, kFile, kRemoved };

class FolderIndex {
 public:
  // The entry of `folder` named `name` in any letter case: the one spelled
  // exactly so when there is one (a host folder may hold several), else the
  // first in byte order. A caller that has just read the folder's
  // last-write time passes it as `writtenNs`: where the index was read at
  // that time, a clock tick or more after the folder last changed, it
  // answers alone, with no look at the host.
  bool Find(const std::filesystem::path& folder, const std::string& name, HostEntry* found,
            const int64_t* writtenNs = nullptr);
  // Every entry of `folder` the machine can name, refused ones included.
  std::vector<HostEntry> Entries(const std::filesystem::path& folder);
  // This process created, replaced or removed `path`: the index of its
  // folder follows without reading the folder again. `now` says what the
  // path holds after the change, where the caller knows it.
  void Changed(const std::filesystem::path& path, HostChange now = HostChange::kLookAgain);
  // The folder `folder` went, with everything below it: what was read of
  // them is dropped.
  void Forget(const std::filesystem::path& folder);

 private:
  struct Folder {
    int64_t writtenNs = 0;  // the folder's last-write time when indexed
    // The time was a clock tick old when the entries were read: a later
    // change, from anywhere, gives the folder another time. Only then does
    // an unchanged time prove that the index still holds.
    bool settled = false;
    FolderEntries entries;
    uint64_t used = 0;  // when it was last used, in uses_
  };
  // The folder's index, read anew when it is missing, out of date or
  // `reread`; null when the folder cannot be read.
  Folder* Current(const std::filesystem::path& folder, bool reread = false);
  bool FindIndexed(Folder* index, const std::string& name, HostEntry* found);

  std::map<std::filesystem::path, Folder> folders_;
  uint64_t uses_ = 0;
};
