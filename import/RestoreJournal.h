// RestoreJournal: the backup directory and restore.bat.
//
// Every INI file that the import has finished with is moved into the backup
// directory, and each move (and each job file copied into the spool
// directory) leaves one copy line in restore.bat, which, run from the backup
// directory, puts everything back. The journal is written so that at every
// instant each file that has left its place has both its backup copy and its
// line on disk. Every line names its file by a full path, since the script
// runs from the backup directory.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/Env.h"

class RestoreJournal {
 public:
  explicit RestoreJournal(Env& env);
  ~RestoreJournal();

  // Creates (or truncates) restore.bat in `backupDirectory`. On failure the
  // user is told why and the journal stays closed. Files in the backup
  // directory or in `spoolDirectory` are the import's own and never move.
  bool Open(const std::string& backupDirectory, const std::string& spoolDirectory);
  bool IsOpen() const { return script_ != nullptr; }
  // How many lines this run has written: each stands for a file moved into
  // the backup directory or copied into the spool directory.
  int LinesWritten() const { return linesWritten_; }
  void Close();

  // Moves `source` into the backup directory as `backupName`. The source is
  // deleted only after its copy and its restore line are safely on disk; a
  // file that cannot be copied or deleted stays where it is and the user is
  // told. A missing source still gets its line; an empty source names no
  // file and gets none. A name already used in this run gets a distinct one
  // ("name~2"), so no backup of this run is ever replaced.
  void MoveToBackup(const std::string& source, const std::string& backupName);

  // Records a job data file copied into the spool directory: restore.bat
  // copies `copy` (its path in the spool directory) back to `original`.
  bool AddJobFileCopyLine(const std::string& copy, const std::string& original);

  // The restore line for copying `from` to `to`; fields are quoted where
  // cmd would otherwise split or interpret them, and every % is doubled.
  static std::string CopyLine(const std::string& from, const std::string& to, bool alwaysQuote);
  // True when `name` can only name a file directly inside one directory.
  static bool IsPlainFileName(const std::string& name);

 private:
  // Orders names as the file system compares them.
  struct FileNameOrder {
    Env* env;
    bool operator()(const std::string& a, const std::string& b) const {
      return env->CompareFileNames(a, b) < 0;
    }
  };

  bool AppendLine(const std::string& line);
  std::string UnusedBackupName(const std::string& name) const;
  // The full path of `path`, or "" (the user told why) when it has none.
  std::string FullPath(const std::string& path);
  // True when `path` (a full path) lies in one of the import's own
  // directories.
  bool InOwnDirectory(const std::string& path) const;
  bool Inside(const std::string& path, const std::string& directory) const;
  bool SourceExists(const std::string& source);
  void Report(const std::string& text);

  Env& env_;
  std::string backupDirectory_;
  std::string ownDirectories_[2];  // backup and spool, full paths
  std::unique_ptr<WritableFile> script_;
  std::set<std::string, FileNameOrder> usedNames_;  // backup names used in this run
  int linesWritten_ = 0;
};
