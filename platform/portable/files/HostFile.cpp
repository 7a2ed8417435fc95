#include "platform/portable/files/HostFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>
#include <thread>

#include "platform/WinError.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

#ifndef _WIN32
namespace {
// Threads that flush a group of files together.
constexpr size_t kFlushThreads = 8;
}  // namespace
#endif

std::FILE* OpenHostFile(const fs::path& path, const char* mode) {
#ifdef _WIN32
  std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

bool SyncHostFile(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

uint32_t WindowsError(std::error_code error, uint32_t fallback) {
  if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
    return kErrorPathNotFound;
  }
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted ||
      error == std::errc::read_only_file_system || error == std::errc::is_a_directory) {
    return kErrorAccessDenied;
  }
  if (error == std::errc::no_space_on_device || error == std::errc::file_too_large) {
    return kErrorDiskFull;
  }
  if (error == std::errc::file_exists) return kErrorAlreadyExists;
  if (error == std::errc::device_or_resource_busy || error == std::errc::text_file_busy) {
    return kErrorSharingViolation;
  }
  if (error == std::errc::not_enough_memory) return kErrorNotEnoughMemory;
  if (error == std::errc::filename_too_long) return kErrorInvalidName;
  return fallback;
}

uint32_t WindowsErrorFromErrno(uint32_t fallback) {
  return WindowsError(std::error_code(errno, std::generic_category()), fallback);
}

bool IsReadOnly(const fs::path& path) {
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  return !ec && (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool MakeHostWritable(const fs::path& path) {
  std::error_code ec;
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
  return !ec;
}

void MakeReadOnly(const fs::path& path) {
  std::error_code ec;
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove, ec);
}

namespace {

std::atomic<unsigned> temporaryCounter{0};

// Copies the bytes of `in` to `out`; 0 or an error code.
uint32_t CopyBytes(std::FILE* in, std::FILE* out) {
  char buffer[64 * 1024];
  for (;;) {
    size_t got = std::fread(buffer, 1, sizeof buffer, in);
    if (got > 0 && std::fwrite(buffer, 1, got, out) != got) {
      return WindowsErrorFromErrno(kErrorWriteFault);
    }
    if (got < sizeof buffer) {
      return std::ferror(in) ? WindowsErrorFromErrno(kErrorReadFault) : kErrorSuccess;
    }
  }
}

}  // namespace

bool SyncHostFolder(const fs::path& folder) {
#ifdef _WIN32
  (void)folder;  // NTFS makes names durable with the files flushed
  return true;
#else
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
#endif
}

fs::path UnusedTemporary(const fs::path& folder, const char* stem) {
  fs::path temporary;
  std::error_code ec;
  do {
    temporary = folder / ("." + std::string(stem) + std::to_string(temporaryCounter++) + ".tmp");
  } while (fs::exists(fs::symlink_status(temporary, ec)));
  return temporary;
}

HostFolderLock::~HostFolderLock() {
  if (handle_ == -1) return;
#ifdef _WIN32
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
#else
  close(static_cast<int>(handle_));
#endif
}

bool HostFolderLock::Acquire(const fs::path& folder, bool shared) {
  if (handle_ != -1) return true;
#ifdef _WIN32
  // A folder opened with no sharing cannot be opened again until closed;
  // one shared for reading, only for reading.
  HANDLE handle = CreateFileW(folder.c_str(), GENERIC_READ, shared ? FILE_SHARE_READ : 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    heldElsewhere_ = GetLastError() == ERROR_SHARING_VIOLATION;
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
#else
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  if (flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    heldElsewhere_ = errno == EWOULDBLOCK;
    close(fd);
    return false;
  }
  handle_ = fd;
#endif
  return true;
}

bool HoldHostFolders(const std::vector<fs::path>& folders,
                     std::vector<std::unique_ptr<HostFolderLock>>* locks, fs::path* busy) {
  std::vector<fs::path> own, above;
  std::error_code ec;
  for (const fs::path& folder : folders) {
    fs::path real = fs::canonical(folder, ec);
    own.push_back(ec ? fs::absolute(folder).lexically_normal() : real);
  }
  for (const fs::path& folder : own) {
    for (fs::path up = folder.parent_path(); !up.empty(); up = up.parent_path()) {
      if (std::find(own.begin(), own.end(), up) == own.end() &&
          std::find(above.begin(), above.end(), up) == above.end()) {
        above.push_back(up);
      }
      if (up == up.root_path()) break;
    }
  }
  // A folder of the run's own must be held; one above only must not be
  // held by another run: one this user cannot open, or whose file system
  // has no locks, is passed over.
  auto take = [&](const fs::path& folder, bool shared) {
    auto lock = std::make_unique<HostFolderLock>();
    bool taken = lock->Acquire(folder, shared);
    if (taken) locks->push_back(std::move(lock));
    return taken || (shared && !lock->HeldElsewhere());
  };
  std::vector<fs::path> order = own;
#ifndef _WIN32
  order.insert(order.end(), above.begin(), above.end());
#endif
  for (size_t i = 0; i < order.size(); ++i) {
    if (!take(order[i], i >= own.size())) {
      *busy = order[i];
      locks->clear();
      return false;
    }
  }
  return true;
}

void RemoveLeftTemporaries(const fs::path& folder, const char* stem) {
  const std::string prefix = "." + std::string(stem), suffix = ".tmp";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    const std::string number =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    std::error_code kind;
    if (number.find_first_not_of("0123456789") == std::string::npos &&
        entry.is_regular_file(kind) && !entry.is_symlink(kind)) {
      fs::remove(entry.path(), kind);
    }
  }
}

uint32_t ProbeHostFolderWritable(const fs::path& folder, const char* stem) {
  fs::path probe = UnusedTemporary(folder, stem);
  errno = 0;
  std::FILE* file = OpenHostFile(probe, "wb");
  if (file == nullptr) return WindowsErrorFromErrno(kErrorAccessDenied);
  std::fclose(file);
  std::error_code ec;
  fs::remove(probe, ec);
  return kErrorSuccess;
}

uint32_t ReplaceHostFile(const fs::path& file, std::string_view bytes) {
  fs::path temporary = UnusedTemporary(file.parent_path(), "~copy");
  errno = 0;
  std::FILE* out = OpenHostFile(temporary, "wb");
  if (out == nullptr) return WindowsErrorFromErrno(kErrorAccessDenied);
  uint32_t error = kErrorSuccess;
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || !SyncHostFile(out)) {
    error = WindowsErrorFromErrno(kErrorWriteFault);
  }
  if (std::fclose(out) != 0 && error == kErrorSuccess) {
    error = WindowsErrorFromErrno(kErrorWriteFault);
  }
  std::error_code ec;
  if (error == kErrorSuccess) {
    fs::file_status old = fs::status(file, ec);
    if (fs::exists(old)) fs::permissions(temporary, old.permissions(), ec);
    fs::rename(temporary, file, ec);
    if (ec) error = WindowsError(ec, kErrorAccessDenied);
  }
  if (error != kErrorSuccess) fs::remove(temporary, ec);
  return error;
}

uint32_t RenameHostFile(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return kErrorSuccess;
  DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS ? kErrorAlreadyExists : static_cast<uint32_t>(error);
#else
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(from, ec))) {
    // A folder has no second name to give it; renameat2 refuses to replace
    // an entry where the file system can, and the caller found none. A
    // folder moved into itself is an invalid parameter, as Wine says.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0 &&
        (errno != EINVAL || rename(from.c_str(), to.c_str()) != 0)) {
      if (errno == EEXIST || errno == ENOTEMPTY) return kErrorAlreadyExists;
      return errno == EINVAL ? kErrorInvalidParameter : WindowsErrorFromErrno(kErrorAccessDenied);
    }
  } else {
    // link then unlink never replaces a file, where rename would.
    if (link(from.c_str(), to.c_str()) != 0) return WindowsErrorFromErrno(kErrorAccessDenied);
    if (unlink(from.c_str()) != 0) {
      uint32_t error = WindowsErrorFromErrno(kErrorAccessDenied);
      unlink(to.c_str());
      return error;
    }
  }
  if (!SyncHostFolder(to.parent_path())) return WindowsErrorFromErrno(kErrorWriteFault);
  if (from.parent_path() != to.parent_path() && !SyncHostFolder(from.parent_path())) {
    return WindowsErrorFromErrno(kErrorWriteFault);
  }
  return kErrorSuccess;
#endif
}

namespace {

#ifndef _WIN32
// Copies the data of `in` to `out`, leaving the holes of a sparse file holes.
bool CopySparseData(int in, int out, off_t size) {
  std::vector<char> buffer(1 << 16);
  for (off_t data = lseek(in, 0, SEEK_DATA); data >= 0 && data < size;) {
    off_t hole = lseek(in, data, SEEK_HOLE);
    if (hole < 0) hole = size;
    for (off_t at = data; at < hole;) {
      size_t want =
          static_cast<size_t>(std::min<off_t>(hole - at, static_cast<off_t>(buffer.size())));
      ssize_t got = pread(in, buffer.data(), want, at);
      if (got <= 0) return false;
      if (pwrite(out, buffer.data(), static_cast<size_t>(got), at) != got) return false;
      at += got;
    }
    data = lseek(in, hole, SEEK_DATA);
  }
  return ftruncate(out, size) == 0;
}

bool CopyPlainFile(const fs::path& from, const fs::path& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) return false;
  struct stat status {};
  int out = fstat(in, &status) == 0
                ? open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)
                : -1;
  bool copied = out >= 0 && CopySparseData(in, out, status.st_size);
  if (out >= 0) {
    copied = fchmod(out, status.st_mode & 07777) == 0 && copied;
    struct timespec times[2] = {status.st_atim, status.st_mtim};
    futimens(out, times);
    copied = close(out) == 0 && copied;
  }
  close(in);
  return copied;
}
#endif

}  // namespace

bool CopyHostTree(const fs::path& from, const fs::path& to, std::string* error) {
  std::error_code ec;
  fs::create_directory(to, ec);
  if (ec) {
    *error = to.string() + ": " + ec.message();
    return false;
  }
  for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::path target = to / it->path().lexically_relative(from);
    fs::file_status status = it->symlink_status(ec);
    if (ec) break;
    if (fs::is_symlink(status)) {
      fs::copy_symlink(it->path(), target, ec);
    } else if (fs::is_directory(status)) {
      fs::create_directory(target, ec);
    } else if (fs::is_regular_file(status)) {
#ifdef _WIN32
      fs::copy_file(it->path(), target, ec);
#else
      if (!CopyPlainFile(it->path(), target)) ec = std::error_code(errno, std::generic_category());
#endif
    }
    if (ec) {
      *error = it->path().string() + ": " + ec.message();
      return false;
    }
  }
  if (ec) {
    *error = from.string() + ": " + ec.message();
    return false;
  }
  return true;
}

namespace {

#ifndef _WIN32
// Copies every byte of `in` to `out` inside the kernel where it can
// (copy_file_range), else through a buffer; 0 or an error code.
uint32_t CopyDescriptor(int in, int out, off_t size) {
  off_t done = 0;
  while (done < size) {
    ssize_t got = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(size - done), 0);
    if (got <= 0) break;  // not supported here, or the file shrank: finish below
    done += got;
  }
  std::vector<char> buffer;
  for (;;) {
    if (buffer.empty()) buffer.resize(64 * 1024);
    ssize_t got = pread(in, buffer.data(), buffer.size(), done);
    if (got < 0) return WindowsErrorFromErrno(kErrorReadFault);
    if (got == 0) return kErrorSuccess;
    for (ssize_t at = 0; at < got;) {
      ssize_t put = pwrite(out, buffer.data() + at, static_cast<size_t>(got - at), done + at);
      if (put < 0) return WindowsErrorFromErrno(kErrorWriteFault);
      at += put;
    }
    done += got;
  }
}

// Copies `from` to the new file `to`, which must not exist: data and
// last-write time, owner-writable. A copy that fails halfway is removed.
uint32_t CopyToNewFile(const fs::path& from, const fs::path& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) return WindowsErrorFromErrno(kErrorAccessDenied);
  struct stat status {};
  if (fstat(in, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(in);
    return kErrorAccessDenied;
  }
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (out < 0) {
    uint32_t error = WindowsErrorFromErrno(kErrorAccessDenied);
    close(in);
    return error;
  }
  uint32_t error = CopyDescriptor(in, out, status.st_size);
  close(in);
  struct timespec times[2] = {{0, UTIME_OMIT}, status.st_mtim};
  if (error == kErrorSuccess && futimens(out, times) != 0) {
    error = WindowsErrorFromErrno(kErrorWriteFault);
  }
  // The copy's data starts on its way to the disk now, while the run goes
  // on: the flush that later commits its group then finds it mostly
  // written instead of writing the whole group while the run waits. This
  // changes when the data is written, never the order the group commits in.
  if (error == kErrorSuccess) sync_file_range(out, 0, 0, SYNC_FILE_RANGE_WRITE);
  if (close(out) != 0 && error == kErrorSuccess) error = WindowsErrorFromErrno(kErrorWriteFault);
  if (error != kErrorSuccess) unlink(to.c_str());
  return error;
}
#endif

}  // namespace

uint32_t CopyHostFile(const fs::path& from, const fs::path& to, bool replacing) {
#ifndef _WIN32
  // A new name needs no temporary: until the copy is whole, no line names it.
  if (!replacing) return CopyToNewFile(from, to);
#else
  (void)replacing;
#endif
  std::FILE* in = OpenHostFile(from, "rb");
  if (in == nullptr) return WindowsErrorFromErrno(kErrorAccessDenied);

  fs::path temporary = UnusedTemporary(to.parent_path(), "~copy");
  std::error_code ec;
  std::FILE* out = OpenHostFile(temporary, "wb");
  if (out == nullptr) {
    uint32_t error = WindowsErrorFromErrno(kErrorAccessDenied);
    std::fclose(in);
    return error;
  }
  uint32_t error = CopyBytes(in, out);
  std::fclose(in);
  if (std::fclose(out) != 0 && error == kErrorSuccess) {
    error = WindowsErrorFromErrno(kErrorWriteFault);
  }
  if (error == kErrorSuccess) {
    fs::file_time_type written = fs::last_write_time(from, ec);
    if (!ec) fs::last_write_time(temporary, written, ec);
    fs::rename(temporary, to, ec);
    if (ec) error = WindowsError(ec, kErrorAccessDenied);
  }
  if (error != kErrorSuccess) {
    fs::remove(temporary, ec);
    return error;
  }
  return kErrorSuccess;
}

uint32_t FlushHostFiles(const std::vector<fs::path>& files) {
#ifdef _WIN32
  for (const fs::path& file : files) {
    std::FILE* out = OpenHostFile(file, "r+b");
    if (out == nullptr) return WindowsErrorFromErrno(kErrorAccessDenied);
    bool synced = SyncHostFile(out);
    std::fclose(out);
    if (!synced) return WindowsErrorFromErrno(kErrorWriteFault);
  }
  return kErrorSuccess;
#else
  // Only these files are flushed, never the whole file system: beside
  // other work a sync of everything waits for everyone's data. Writeback
  // is started for all of them first, so that the waits overlap. Each
  // flush (of a file's data, or of a folder that holds new names) waits
  // for the journal and sends the disk a cache flush of its own: issued
  // one after another, a group pays for as many. Issued together from a
  // few threads, the kernel merges them into few journal commits and
  // cache flushes. All are done before this returns.
  struct Flush {
    int fd;
    bool folder;
  };
  std::vector<Flush> flushes;
  std::vector<fs::path> folders;
  uint32_t error = kErrorSuccess;
  for (const fs::path& file : files) {
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
      error = WindowsErrorFromErrno(kErrorAccessDenied);
      break;
    }
    flushes.push_back({fd, false});
    sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    fs::path folder = file.parent_path();
    if (std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.push_back(folder);
  }
  for (const fs::path& folder : folders) {
    if (error != kErrorSuccess) break;
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) error = WindowsErrorFromErrno(kErrorWriteFault);
    if (fd >= 0) flushes.push_back({fd, true});
  }
  if (error == kErrorSuccess) {
    std::atomic<size_t> next{0};
    std::atomic<int> failure{0};  // the first failing flush's errno
    auto flush = [&] {
      for (size_t i; (i = next++) < flushes.size();) {
        int expected = 0;
        int done = flushes[i].folder ? fsync(flushes[i].fd) : fdatasync(flushes[i].fd);
        if (done != 0) failure.compare_exchange_strong(expected, errno ? errno : EIO);
      }
    };
    std::vector<std::thread> helpers;
    size_t wanted = std::min<size_t>(kFlushThreads, flushes.size()) - (flushes.empty() ? 0 : 1);
    for (size_t i = 0; i < wanted; ++i) {
      try {
        helpers.emplace_back(flush);
      } catch (const std::system_error&) {
        break;  // no thread to be had: this one does the rest
      }
    }
    flush();
    for (std::thread& helper : helpers) helper.join();
    if (failure != 0) {
      errno = failure;
      error = WindowsErrorFromErrno(kErrorWriteFault);
    }
  }
  for (const Flush& flush : flushes) close(flush.fd);
  return error;
#endif
}
