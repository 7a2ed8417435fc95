// BackupNames: the names under which files go into the backup directory.
//
// A file in the backup directory is an earlier run's way back, so no name
// is ever given twice. A name is taken when a file of the backup directory
// has it, when this run has given it, or when a line of an earlier restore
// script names it, even though its file never came there: the move of a
// missing file still leaves its line, and that line would copy whatever
// later took the name back over a file it never had. The run's own files
// (restore.bat, restore.reg, CheckLUM.log, and NAME.N for each) are never
// given either, whatever a profile calls a queue: a later run renames an
// earlier one of those, and would run a backup named so as a script.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "import/FileNameSet.h"
#include "platform/Env.h"

class BackupNames {
 public:
  explicit BackupNames(Env& env);

  // Reads what is taken in `backupDirectory`: its files, and the names that
  // the lines of every earlier restore script there (restore.bat.N) copy
  // back. The directory is read once, since looking a missing name up is a
  // search of the whole directory on some file systems. The names of the
  // spooled copies in `spoolDirectory` (a full path) that those lines copy
  // back are kept apart (SpooledEarlier): a later run must not replace such
  // a copy, the only one of its job's data once the spooler has printed it.
  void Load(const std::string& backupDirectory, const std::string& spoolDirectory);
  const std::vector<std::string>& SpooledEarlier() const { return spooledEarlier_; }
  // `wanted`, or else "wanted~N" with N counting up from 2: the first name
  // not taken. A name found taken remembers where its count stands, so that
  // k files wanting one name cost k tries in all.
  std::string Unused(const std::string& wanted);
  void Take(const std::string& name);

 private:
  // Orders OEM names with the letters A to Z in either case as one.
  struct AsciiCaseOrder {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  bool Taken(const std::string& name);
  bool IsJournalFileName(const std::string& name);

  Env& env_;
  FileNameSet taken_;
  std::set<std::string, AsciiCaseOrder> named_;  // by earlier scripts, as they hold them
  std::map<std::string, int, FileNameOrder> next_;
  std::vector<std::string> spooledEarlier_;
};
