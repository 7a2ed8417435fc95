// RestoreJournal: the backup directory and restore.bat.
//
// Every INI file that the import has finished with is moved into the backup
// directory, and each move (and each job file copied into the spool
// directory) leaves one copy line in restore.bat, which, run from the backup
// directory, puts everything back. The journal is written so that at every
// instant each file that has left its place has both its backup copy and its
// line on disk.
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
  // user is told why and the journal stays closed.
  bool Open(const std::string& backupDirectory);
  bool IsOpen() const { return script_ != nullptr; }
  // How many lines this run has written: each stands for a file moved into
  // the backup directory or copied into the spool directory.
  int LinesWritten() const { return linesWritten_; }
  void Close();

  // Moves `source` into the backup directory as `backupName`. The source is
  // deleted only after its copy and its restore line are safely on disk; a
  // file that cannot be copied stays where it is and the user is told. A
  // missing source still gets its line. A name already used in this run gets
  // a distinct one ("name~2"), so no backup of this run is ever replaced.
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
  bool AppendLine(const std::string& line);
  std::string UnusedBackupName(const std::string& name) const;
  bool SourceExists(const std::string& source);
  void Report(const std::string& text);

  Env& env_;
  std::string backupDirectory_;
  std::unique_ptr<WritableFile> script_;
  std::set<std::string> usedNames_;
  int linesWritten_ = 0;  // upper-cased: the file system ignores case
};
