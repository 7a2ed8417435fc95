// ImagePath: where a Windows path lies in the image, the host folder that
// stands for one Windows machine (IMAGE/C is drive C:, IMAGE/D drive D:). A
// drive may instead be any host folder, such as a mounted Windows
// partition, given for its letter; the same rules hold inside it.
//
// Backslashes and slashes separate the parts of a path, and runs of them
// count as one. Each part is matched against the host folder's entries
// without regard to letter case; "." and ".." are applied to the path's text
// first, and ".." stops at the drive's root, so no path leaves its drive
// folder. As on Windows, trailing dots and blanks of a part are dropped. A
// path beginning with one backslash is on the current drive, a relative path
// starts in the current directory. UNC paths (\\server\share), device paths
// (\\.\, \\?\) and device names (CON, NUL, COM1, ...) lie outside the image.
//
// Host entries that a Windows program could not reach are not seen: symbolic
// links (which could lead out of the image), special files, and names that
// Windows cannot hold. A path through such an entry is refused.
//
// A folder found once is remembered with its identity (device and inode):
// the next path through it costs one check that the host folder is still
// that folder and no link, instead of one per folder from the drive down.
// The same look gives the folder's last-write time, and where that is the
// time its index was taken, the last part is found in the index alone.
// A folder that this process creates or removes is forgotten at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/portable/files/FolderIndex.h"

struct ImageLocation {
  // 0; 3 when the path is empty, outside the image, or a directory on the way
  // is missing or refused; 123 when a part holds a character Windows forbids;
  // 5 when the last part is a refused host entry.
  uint32_t error = 0;
  bool parentIsFile = false;     // with error 3: the last directory is a file
  bool inDriveRoot = false;      // the last part lies in a drive's root folder
  std::filesystem::path parent;  // host folder holding the last part
  std::string name;              // the last part as given; empty for a drive root
  // The host path: the folder's entry when one matches the last part, else
  // where a new entry of the given name goes. With error 3 it is the path as
  // given below the last existing folder (no such entry exists), or empty
  // when the path is outside the image or passes a refused entry.
  std::filesystem::path host;
  bool exists = false;  // an entry matches the last part
  bool directory = false;
  bool trailingSeparator = false;  // the path ended with a separator
};

// One entry of a host folder, as Windows sees it.
struct ImageEntry {
  std::string name;
  bool directory = false;
};

class ImagePath {
 public:
  // `currentDirectory`: an absolute Windows path (such as C:\Setup); the
  // root of drive C: when it is not one. `drives`: host folders that stand
  // for drive letters (capitals) instead of IMAGE/<letter>.
  ImagePath(std::filesystem::path image, std::map<char, std::filesystem::path> drives,
            const std::string& currentDirectory);

  // The host folder that stands for drive `letter` (a capital).
  std::filesystem::path DriveFolder(char letter) const;

  // With `pattern`, the last part is a search pattern: it is neither checked
  // nor looked up.
  ImageLocation Locate(const std::string& windowsPath, bool pattern = false) const;
  // The path as GetFullPathName spells it: drive, backslashes, "." and ".."
  // applied, trailing dots and blanks of its parts dropped; a trailing
  // separator stays. 0, or the error Locate would give for the path.
  uint32_t FullPath(const std::string& windowsPath, std::string* fullPath) const;

  // The entries of a host folder that Windows can see, in no set order.
  std::vector<ImageEntry> List(const std::filesystem::path& folder) const;
  // The entry of a host folder that Windows names `name` (letter case
  // ignored; the one spelled exactly so where several match).
  bool Lookup(const std::filesystem::path& folder, const std::string& name,
              ImageEntry* found) const;
  // This process created, replaced or removed the host path `host`; `now`
  // says what it holds afterwards, where the caller knows it.
  void Changed(const std::filesystem::path& host, HostChange now = HostChange::kLookAgain) const;
  // This process moved the host folder `host` (and all below it) away.
  void FolderMoved(const std::filesystem::path& host) const;

 private:
  struct Parsed {
    char drive = 'C';
    std::vector<std::string> parts;
    bool trailingSeparator = false;
  };
  uint32_t Parse(const std::string& path, bool pattern, Parsed* parsed) const;
  // The host folder of the Windows folder `key` (drive and parts), when it
  // was found before and is still that folder; its last-write time comes
  // from the same look.
  bool KnownFolder(const std::string& key, std::filesystem::path* folder, int64_t* writtenNs) const;
  void RememberFolder(const std::string& key, const std::filesystem::path& folder) const;

  struct KnownHostFolder {
    std::filesystem::path host;
    HostFolderId id;
  };

  std::filesystem::path image_;
  std::map<char, std::filesystem::path> drives_;
  Parsed current_;
  mutable FolderIndex index_;  // what the folders hold, read once
  mutable std::unordered_map<std::string, KnownHostFolder> known_;
  mutable std::unordered_set<std::filesystem::path::string_type> knownHosts_;
};
