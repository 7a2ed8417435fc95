#include "platform/portable/files/FolderIndex.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <system_error>

#include "platform/portable/text/Text.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

// Folders whose index is kept, the ones used last: a run works in a
// handful at a time (a queue's folder, the spool and backup folders), and
// a queue's folder may hold thousands of jobs.
constexpr size_t kFoldersKept = 8;

// The coarsest clock a file system keeps a folder's time by (FAT: two
// seconds). Two changes within one tick may leave the same time.
constexpr int64_t kTimeTickNs = 2'000'000'000;

#ifndef _WIN32
int64_t WrittenNs(const struct stat& status) {
  return static_cast<int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
}
#endif

HostKind KindOf(const fs::file_status& status) {
  if (fs::is_directory(status)) return HostKind::kDirectory;
  if (fs::is_regular_file(status)) return HostKind::kFile;
  return HostKind::kRefused;  // symbolic links, pipes, devices, sockets
}

// The machine's name for a host name: none when the host name is not UTF-8
// or holds a character that code page 1252 lacks (the A functions would see
// '?' there, which no name may hold).
bool MachineName(const fs::path& host, std::string* name) {
  std::string utf8;
  try {
    std::u8string text = host.u8string();
    utf8.assign(text.begin(), text.end());
  } catch (const std::exception&) {
    return false;  // a name that is no Unicode text
  }
  if (FirstMalformedUtf8(utf8) != std::string::npos) return false;
  *name = Utf8ToCp1252(utf8);
  return name->find('?') == std::string::npos;
}

FolderEntries ReadFolder(const fs::path& folder, std::error_code& ec) {
  FolderEntries entries;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    HostEntry entry;
    entry.host = it->path().filename();
    if (!MachineName(entry.host, &entry.name)) continue;
    // The kind the folder listing gives, without asking for each entry.
    std::error_code kindError;
    if (it->is_symlink(kindError)) {
      entry.kind = HostKind::kRefused;
    } else if (it->is_directory(kindError)) {
      entry.kind = HostKind::kDirectory;
    } else if (it->is_regular_file(kindError)) {
      entry.kind = HostKind::kFile;
    }
    if (kindError) continue;
    // A folder too large to index is treated as one that cannot be read.
    if (!entries.Add(entry)) {
      ec = std::make_error_code(std::errc::file_too_large);
      break;
    }
  }
  return entries;
}

// The folder's last-write time in nanoseconds.
int64_t WrittenAt(const fs::path& folder, std::error_code& ec) {
#ifdef _WIN32
  fs::file_time_type written = fs::last_write_time(folder, ec);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(written.time_since_epoch()).count();
#else
  struct stat status {};
  if (stat(folder.c_str(), &status) != 0) {
    ec = std::error_code(errno, std::generic_category());
    return 0;
  }
  ec.clear();
  return WrittenNs(status);
#endif
}

// Now, on the clock WrittenAt reads times by.
int64_t NowNs() {
#ifdef _WIN32
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             fs::file_time_type::clock::now().time_since_epoch())
      .count();
#else
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
#endif
}

}  // namespace

fs::path HostName(const std::string& name) {
  std::string utf8 = Cp1252ToUtf8(name);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

bool IdentifyHostFolder(const fs::path& folder, HostFolderId* id, int64_t* writtenNs) {
#ifdef _WIN32
  // No inode to compare: only a real folder is accepted, every time.
  std::error_code ec;
  *id = {};
  if (!fs::is_directory(fs::symlink_status(folder, ec))) return false;
  if (writtenNs != nullptr) *writtenNs = WrittenAt(folder, ec);
  return !ec;
#else
  struct stat status {};
  if (lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return false;
  *id = {static_cast<std::uintmax_t>(status.st_dev), static_cast<std::uintmax_t>(status.st_ino)};
  if (writtenNs != nullptr) *writtenNs = WrittenNs(status);
  return true;
#endif
}

FolderIndex::Folder* FolderIndex::Current(const fs::path& folder, bool reread) {
  std::error_code ec;
  int64_t written = WrittenAt(folder, ec);
  const bool settled = NowNs() - written > kTimeTickNs;  // before the entries are read
  if (ec) {
    folders_.erase(folder);
    return nullptr;
  }
  auto it = folders_.find(folder);
  if (it != folders_.end() && it->second.writtenNs == written && !reread) {
    it->second.used = ++uses_;
    return &it->second;
  }
  auto entries = ReadFolder(folder, ec);
  if (ec) {
    folders_.erase(folder);
    return nullptr;
  }
  if (it == folders_.end()) {
    if (folders_.size() >= kFoldersKept) {
      auto oldest = std::min_element(folders_.begin(), folders_.end(), [](auto& a, auto& b) {
        return a.second.used < b.second.used;
      });
      folders_.erase(oldest);
    }
    it = folders_.emplace(folder, Folder{}).first;
  }
  it->second = Folder{written, settled, std::move(entries), ++uses_};
  return &it->second;
}

bool FolderIndex::Find(const fs::path& folder, const std::string& name, HostEntry* found,
                       const int64_t* writtenNs) {
  if (writtenNs != nullptr) {
    auto it = folders_.find(folder);
    if (it != folders_.end() && it->second.settled && it->second.writtenNs == *writtenNs) {
      it->second.used = ++uses_;
      return FindIndexed(&it->second, name, found);
    }
  }
  std::error_code ec;
  fs::path host = HostName(name);
  fs::file_status status = fs::symlink_status(folder / host, ec);
#ifdef _WIN32
  // The host finds any letter case itself: a name it does not find is not
  // there, and one it finds is in the index, read again if need be.
  if (ec || !fs::exists(status)) return false;
  if (FindIndexed(Current(folder), name, found)) return true;
  return FindIndexed(Current(folder, true), name, found);
#else
  // An exactly spelled name needs no index on a host that tells case apart.
  if (!ec && fs::exists(status)) {
    *found = {name, host, KindOf(status)};
    return true;
  }
  return FindIndexed(Current(folder), name, found);
#endif
}

bool FolderIndex::FindIndexed(Folder* index, const std::string& name, HostEntry* found) {
  if (index == nullptr) return false;
  bool any = false;
  for (const HostEntry& entry : index->entries.Named(name)) {
    if (entry.name == name) {
      *found = entry;
      return true;
    }
    if (!any || entry.name < found->name) *found = entry;
    any = true;
  }
  return any;
}

std::vector<HostEntry> FolderIndex::Entries(const fs::path& folder) {
  std::vector<HostEntry> entries;
  if (Folder* index = Current(folder)) entries = index->entries.All();
  return entries;
}

void FolderIndex::Forget(const fs::path& folder) {
  for (auto it = folders_.lower_bound(folder); it != folders_.end();) {
    auto [end, unused] =
        std::mismatch(folder.begin(), folder.end(), it->first.begin(), it->first.end());
    if (end != folder.end()) break;
    it = folders_.erase(it);
  }
}

void FolderIndex::Changed(const fs::path& path, HostChange now) {
  fs::path folder = path.parent_path();
  auto it = folders_.find(folder);
  if (it == folders_.end()) return;
  std::error_code ec;
  int64_t written = WrittenAt(folder, ec);
  std::string name;
  fs::path host = path.filename();
  if (ec || !MachineName(host, &name)) {
    folders_.erase(it);
    return;
  }
  FolderEntries& entries = it->second.entries;
  entries.Remove(name, host);
  HostKind kind = HostKind::kFile;
  if (now == HostChange::kLookAgain) {
    fs::file_status status = fs::symlink_status(path, ec);
    if (ec || !fs::exists(status)) now = HostChange::kRemoved;
    kind = KindOf(status);
  }
  if (now != HostChange::kRemoved && !entries.Add(HostEntry{name, host, kind})) {
    folders_.erase(it);
    return;
  }
  it->second.writtenNs = written;
  it->second.settled = false;  // a change from outside may share this time
}
