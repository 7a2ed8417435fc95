// RestoreJournal: the backup directory and restore.bat.
//
// Every INI file that the import has finished with is moved into the backup
// directory, and each move (and each job file copied into the spool
// directory) leaves one copy line in restore.bat, which, run from the backup
// directory, puts everything back. Every line names its file by a full path,
// since the script runs from the backup directory, and is written in the OEM
// code page, in which the command prompt reads batch files.
//
// Moves are committed in groups (import/MoveGroup.h): a line reaches
// restore.bat only once its copy is durable, and a moved file is deleted
// only once its line is. Lines (import/RestoreLines.h), backup names
// (import/BackupNames.h) and the earlier run's files (import/EarlierFiles.h)
// each have a file of their own.
#pragma once

#include <memory>
#include <string>

#include "import/BackupNames.h"
#include "import/MoveGroup.h"
#include "platform/Env.h"

class RestoreJournal {
 public:
  explicit RestoreJournal(Env& env);
  ~RestoreJournal();

  // Creates restore.bat in `backupDirectory`; a restore.bat that an earlier
  // run left is first kept as restore.bat.N. On failure the user is told
  // why and the journal stays closed. Files in the backup directory or in
  // `spoolDirectory` are the import's own and never move.
  bool Open(const std::string& backupDirectory, const std::string& spoolDirectory);
  bool IsOpen() const { return script_ != nullptr; }
  // The names of the spooled copies that earlier runs' scripts copy back.
  const std::vector<std::string>& SpooledEarlier() const { return names_.SpooledEarlier(); }
  // How many lines are durable in restore.bat: each stands for a file moved
  // into the backup directory or copied into the spool directory (or for a
  // file the old installation named that was not there).
  int LinesWritten() const { return linesWritten_; }
  // How many files this run has moved into the backup directory.
  int FilesBackedUp() const { return filesBackedUp_; }
  // Commits the moves so far. The import commits before it looks at a
  // directory it may have moved files from; Close commits too. False, the
  // user told why, when a copy or a line cannot be made durable: their
  // sources then stay, and the journal moves nothing more.
  bool Commit();
  // Commits when a move not yet committed takes its file from `directory`,
  // so that a look into that directory no longer finds the file; false as
  // Commit.
  bool CommitBefore(const std::string& directory);
  // Commits and closes restore.bat. False when the journal broke during the
  // run: files that were to move stay where they are, and the run must not
  // end as if all had gone well.
  bool Close();

  // Moves `source` into the backup directory under `backupName`, or under a
  // distinct name where that one is taken (BackupNames), so no backup is
  // ever replaced. The source is deleted when the move is committed; a file
  // that cannot be copied or deleted stays where it is and the user is
  // told. A missing source still gets its line, so that the script names
  // every file the old installation referred to; an empty source names no
  // file and gets none.
  void MoveToBackup(const std::string& source, const std::string& backupName);

  // Records a job data file copied into the spool directory: restore.bat
  // copies `copy` (its path in the spool directory) back to `original`. The
  // line is written once the copy is durable.
  bool AddJobFileCopyLine(const std::string& copy, const std::string& original);
  // True when restore.bat can name `path`: the OEM code page holds every
  // character of it.
  bool CanName(const std::string& path);
  // Tells the user that `path` stays where it is, since restore.bat could
  // not name it.
  void ReportNotNameable(const std::string& path);

  // True when `path` lies in the backup or the spool directory: the import's
  // own files, which it never moves nor copies.
  bool InOwnDirectory(const std::string& path);

 private:
  // Adds a move or copy to the group, with its line; commits a full group.
  void Add(MoveGroup::Entry entry, const std::string& line);
  // `name` with '_' for each character the OEM code page lacks.
  std::string OemSafeName(const std::string& name);
  // The full path of `path`, or "" (the user told why) when it has none.
  std::string FullPath(const std::string& path);
  bool Inside(const std::string& path, const std::string& directory) const;
  bool SourceExists(const std::string& source);
  void Report(const std::string& text);

  Env& env_;
  std::string backupDirectory_;
  std::string scriptPath_;
  std::string ownDirectories_[2];  // backup and spool, full paths
  std::unique_ptr<WritableFile> script_;
  MoveGroup group_;
  BackupNames names_;
  bool broken_ = false;  // a commit failed: nothing more moves
  int linesWritten_ = 0;
  int filesBackedUp_ = 0;
};
