// RestoreJournal: the backup directory and restore.bat.
//
// Every INI file that the import has finished with is moved into the backup
// directory, and each move (and each job file copied into the spool
// directory) leaves one copy line in restore.bat, which, run from the backup
// directory, puts everything back. Every line names its file by a full path,
// since the script runs from the backup directory, and is written in the OEM
// code page, in which the command prompt reads batch files.
//
// Moves are committed in groups: the backup copies, the spooled copies and
// their lines are made durable together, and only then are the moved files
// deleted. So at every instant, even after a power cut, each file that has
// left its place has its backup copy and its line on disk, without a flush
// for every file.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Env.h"

class RestoreJournal {
 public:
  explicit RestoreJournal(Env& env);
  ~RestoreJournal();

  // Creates restore.bat in `backupDirectory`; a restore.bat that an earlier
  // run left is first kept as restore.bat.N (N the smallest number free). On
  // failure the user is told why and the journal stays closed. Files in the
  // backup directory or in `spoolDirectory` are the import's own and never
  // move.
  bool Open(const std::string& backupDirectory, const std::string& spoolDirectory);
  bool IsOpen() const { return script_ != nullptr; }
  // How many lines this run has written: each stands for a file moved into
  // the backup directory or copied into the spool directory.
  int LinesWritten() const { return linesWritten_; }
  // How many files this run has copied into the backup directory.
  int FilesBackedUp() const { return filesBackedUp_; }
  // Commits the moves so far (see above). The import commits before it looks
  // at a directory it may have moved files from; Close commits too. False,
  // the user told why, when the copies cannot be made durable: their sources
  // then stay, and the journal moves nothing more.
  bool Commit();
  // Commits when a move not yet committed takes its file from `directory`,
  // so that a look into that directory no longer finds the file; false as
  // Commit.
  bool CommitBefore(const std::string& directory);
  void Close();

  // Moves `source` into the backup directory as `backupName`. The source is
  // deleted when the move is committed, once its copy and its restore line
  // are durable; a file that cannot be copied or deleted stays where it is
  // and the user is told. A missing source still gets its line; an empty source names no
  // file and gets none. A name already used in this run, or by a file an
  // earlier run left in the backup directory, gets a distinct one ("name~2"),
  // so no backup is ever replaced.
  void MoveToBackup(const std::string& source, const std::string& backupName);

  // Records a job data file copied into the spool directory: restore.bat
  // copies `copy` (its path in the spool directory) back to `original`.
  bool AddJobFileCopyLine(const std::string& copy, const std::string& original);
  // True when restore.bat can name `path`: the OEM code page holds every
  // character of it.
  bool CanName(const std::string& path);
  // Tells the user that `path` stays where it is, since restore.bat could
  // not name it.
  void ReportNotNameable(const std::string& path);

  // Copies a file an earlier run left at `path` to `path`.N, N the smallest
  // number not taken, so that a new file can take its place; false (the
  // user told why) when it cannot be kept.
  static bool KeepEarlierFile(Env& env, const std::string& path);

  // True when `path` lies in the backup or the spool directory: the import's
  // own files, which it never moves nor copies.
  bool InOwnDirectory(const std::string& path);

  // The restore line for copying `from` to `to`; fields are quoted where
  // cmd would otherwise split or interpret them, and every % is doubled.
  static std::string CopyLine(const std::string& from, const std::string& to, bool alwaysQuote);
  // True when `name` can only name one file directly inside one directory:
  // no separators, wildcards or other characters Windows forbids, no
  // trailing dot or blank (Windows would drop them) and no device name.
  static bool IsPlainFileName(const std::string& name);

 private:
  bool AppendLine(const std::string& line);
  std::string UnusedBackupName(const std::string& name);
  // `name` with '_' for each character the OEM code page lacks.
  std::string OemSafeName(const std::string& name);
  // The full path of `path`, or "" (the user told why) when it has none.
  std::string FullPath(const std::string& path);

  bool Inside(const std::string& path, const std::string& directory) const;
  bool SourceExists(const std::string& source);
  void Report(const std::string& text);

  // A move whose source goes once the copy and its line are durable.
  struct PendingMove {
    std::string source;
    std::string backupPath;
    std::string backupName;
  };

  Env& env_;
  std::string backupDirectory_;
  std::vector<PendingMove> pending_;
  std::vector<std::string> spooled_;  // spooled copies whose lines are not yet durable
  bool unsynced_ = false;             // lines written since the last commit
  bool broken_ = false;               // a commit failed: nothing more moves
  std::string ownDirectories_[2];     // backup and spool, full paths
  std::unique_ptr<WritableFile> script_;
  // Backup names taken: every file the backup directory held when the
  // journal opened, and every name this run has used since. The directory
  // is read once, since looking a missing name up is a search of the whole
  // directory on some file systems, which would make a run quadratic.
  std::set<std::string, FileNameOrder> takenNames_;
  int linesWritten_ = 0;
  int filesBackedUp_ = 0;
};
