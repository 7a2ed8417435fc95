// Host file helpers of the portable backend: opening, syncing and copying
// host files, and the Windows error codes for host failures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

// fopen of a host path ("rb" or "wb"); null with errno set on failure.
std::FILE* OpenHostFile(const std::filesystem::path& path, const char* mode);
// Flushes the stream and makes the file's data durable (fsync).
bool SyncHostFile(std::FILE* file);
// The Windows error code for a host failure; `fallback` for the unusual ones.
uint32_t WindowsError(std::error_code error, uint32_t fallback);
uint32_t WindowsErrorFromErrno(uint32_t fallback);

// A file counts as read-only when its owner may not write it (checked
// explicitly: the superuser could write it anyway).
bool IsReadOnly(const std::filesystem::path& path);
void MakeReadOnly(const std::filesystem::path& path);
// Gives the owner the right to write `path`: false when that cannot be done.
bool MakeHostWritable(const std::filesystem::path& path);

// A lock on a host folder, held until the object goes: exclusive, or
// shared with other shared locks. A lock the folder's holders do not allow,
// by this process or another, fails at once. The lock belongs to the
// folder itself, whatever path reaches it (a link, a bind mount).
class HostFolderLock {
 public:
  HostFolderLock() = default;
  ~HostFolderLock();
  HostFolderLock(const HostFolderLock&) = delete;
  HostFolderLock& operator=(const HostFolderLock&) = delete;

  // False when another lock holds the folder or it cannot be opened.
  bool Acquire(const std::filesystem::path& folder, bool shared = false);
  // After a failed Acquire: whether another lock held the folder.
  bool HeldElsewhere() const { return heldElsewhere_; }

 private:
  std::intptr_t handle_ = -1;  // a descriptor, or a Windows handle
  bool heldElsewhere_ = false;
};

// Exclusive locks on `folders` and shared ones on every folder above them,
// so that two holds conflict when one's folder lies in, or is, the
// other's, whatever paths reach them. A folder above that cannot be opened
// is passed over. False, with the folder that is held elsewhere in `busy`.
bool HoldHostFolders(const std::vector<std::filesystem::path>& folders,
                     std::vector<std::unique_ptr<HostFolderLock>>* locks,
                     std::filesystem::path* busy);

// A name for a temporary file in `folder` that nothing uses yet:
// ".<stem><number>.tmp".
std::filesystem::path UnusedTemporary(const std::filesystem::path& folder, const char* stem);

// Removes the plain files in `folder` named as UnusedTemporary names them
// for `stem`: what a power cut left of earlier work there.
void RemoveLeftTemporaries(const std::filesystem::path& folder, const char* stem);

// The temporaries beside a Windows disk's SOFTWARE hive: the commit's new
// hive and the probe of its folder. The next commit removes any a power cut
// left, so none stays on the disk.
constexpr const char* kHiveTemporaryStem = "~hive";

// 0 when a new file can be made in `folder` (one, named for `stem`, is made
// and removed again), else the error code.
uint32_t ProbeHostFolderWritable(const std::filesystem::path& folder, const char* stem = "~copy");

// Replaces `file` with `bytes` through a temporary file beside it that is
// synced and then renamed over it, so `file` is always either the old or the
// new content. An existing file keeps its permissions. 0 or an error code.
uint32_t ReplaceHostFile(const std::filesystem::path& file, std::string_view bytes);

// Copies `from` to `to`. An existing `to` (`replacing`) is replaced through a
// temporary file in its folder that is then renamed, so that it never holds
// half a copy; a new one is written in place, and removed again when the copy
// fails. The copy is not synced: FlushHostFiles makes it durable. It keeps
// the last-write time, but not the read-only attribute: the copy is always
// writable. 0 or an error code.
uint32_t CopyHostFile(const std::filesystem::path& from, const std::filesystem::path& to,
                      bool replacing);

// Gives the file or folder `from` the name `to`, which no entry may have yet,
// and makes the change durable (the folder is synced, as
// MOVEFILE_WRITE_THROUGH does).
// 0 or an error code: 183 when `to` exists.
uint32_t RenameHostFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Copies the folder `from` to the new folder `to` as an image's run sees it:
// folders, plain files (their holes kept, so that a sparse file costs no
// more room than it has data) with their permissions and times, and links
// as links; FIFOs, devices and sockets, which no run reads, are left out.
// True, or false with the reason.
bool CopyHostTree(const std::filesystem::path& from, const std::filesystem::path& to,
                  std::string* error);

// Makes the names in `folder` durable: those of files made, renamed or
// removed there, and of folders made there.
bool SyncHostFolder(const std::filesystem::path& folder);

// Makes `files` durable, data and names (their folders are synced too), and
// nothing else: other programs' data on the same file system is not waited
// for. 0 or an error code.
uint32_t FlushHostFiles(const std::vector<std::filesystem::path>& files);
