// PowerCut: what a disk keeps of a run when the power goes, under rules as
// weak as real file systems follow (ext4 with delayed allocation, NTFS):
//   - the writes made to a file since its last flush may each be kept or
//     lost, and the last one kept may be torn; each file decides on its own,
//     apart from every other file and from the folder operations;
//   - a new file's name may survive while its data does not: the file then
//     reads empty;
//   - folder operations (making, removing, renaming a name, making a
//     folder) not yet made durable survive as an in-order prefix;
//   - a flush makes its file's data durable, together with every folder
//     operation before it; a rename made with write-through makes itself and
//     every folder operation before it durable.
// FaultInjectionEnv tells it every file operation of a run that succeeded;
// afterwards it gives back, for a choice of what the disk kept, the content
// of every file the run touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

class PowerCut {
 public:
  // Reads a file as it is now (Windows path), or nothing when it is absent.
  using Reader = std::function<std::optional<std::string>(const std::string& path)>;
  explicit PowerCut(Reader read) : read_(std::move(read)) {}

  // What the disk kept: how many folder operations, and for each file with
  // writes not flushed, how many of them and how much of the last one.
  struct Choice {
    size_t folderOps = 0;
    struct Kept {
      size_t writes = 0;
      size_t lastBytes = SIZE_MAX;  // of the last write kept; SIZE_MAX: all of it
    };
    std::map<size_t, Kept> files;  // by file; a file not listed keeps nothing unflushed
  };
  // A file's state after the cut: its content, or nothing when it is gone.
  struct State {
    std::map<std::string, std::optional<std::string>> files;  // by the path first used
    std::vector<std::string> lostFolders;                     // folders the run made, gone again
  };

  // --- Recording: Before() ahead of each operation on a path, so that its
  // content before the run is known; the rest once it has succeeded. ---
  void Before(const std::string& path);
  // A file made by CreateFileA(CREATE_ALWAYS): a new one, or one truncated.
  size_t Created(const std::string& path);
  void Appended(size_t file, const std::string& data);
  void Synced(size_t file);
  // A copy to `path` holding `content`; one over an existing file is
  // written into that file, as CopyFileA does.
  void Copied(const std::string& path, const std::string& content);
  void Flushed(const std::string& path);
  void Removed(const std::string& path);
  void Renamed(const std::string& from, const std::string& to);
  void MadeFolder(const std::string& path);

  // --- Choices and states. ---
  Choice EverythingLost() const;
  Choice EverythingKept() const;
  // A random choice; with `tears` false no write is torn, only kept or lost.
  Choice Sample(std::mt19937& random, bool tears = true) const;
  State After(const Choice& choice) const;
  // How many writes and folder operations are not yet durable.
  size_t Unflushed() const;
  std::string Describe(const Choice& choice) const;
  // A file as it is now, through the reader.
  std::optional<std::string> ReadNow(const std::string& path) const { return read_(path); }

 private:
  struct Write {
    bool truncate = false;
    std::string bytes;
  };
  struct File {
    std::string durable;
    std::vector<Write> pending;
  };
  enum class Kind { kLink, kUnlink, kRename, kFolder };
  struct FolderOp {
    Kind kind;
    std::string key, to;
    size_t file = 0;
  };

  // One key for the spellings of a path: letters in capitals, separators
  // single.
  static std::string Key(const std::string& path);
  size_t NewFile(std::string durable);
  void MakeDurable(size_t file);

  Reader read_;
  std::vector<File> files_;
  std::vector<FolderOp> folderOps_;
  size_t durableFolderOps_ = 0;
  std::map<std::string, size_t> before_;     // key -> its file before the run
  std::map<std::string, size_t> names_;      // key -> its file now
  std::map<std::string, std::string> path_;  // key -> the spelling first used
};
