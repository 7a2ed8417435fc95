// ImportRun: what one settings import works with. Its owner (the progress
// dialog) fills the setup directory and shows the progress; the import fills
// the spool and backup directories and writes the restore script.
#pragma once

#include <string>

#include "import/FileNameSet.h"
#include "import/RegistryUndo.h"
#include "import/RestoreJournal.h"
#include "platform/Env.h"
#include "profile/Ini.h"

// Where the import reports how far it has got: the status line says what it
// is doing, the detail line which file it is working on.
class ImportProgress {
 public:
  virtual ~ImportProgress() = default;
  virtual void ShowStatus(const std::string& text) = 0;
  virtual void ShowDetail(const std::string& text) = 0;
};

// What the import has carried over, for the closing summary.
struct ImportCounts {
  int queues = 0;     // queues written to the registry
  int jobs = 0;       // jobs written to the registry
  int dataFiles = 0;  // data files copied into the spool directory
};

struct ImportRun {
  ImportRun(Env& e, ImportProgress& p)
      : env(e), progress(p), restoreScript(e), spooledNames(e), spooledEarlier(e), jobNames(e) {}

  Env& env;
  ImportProgress& progress;
  std::string setupDirectory;    // the program's directory, ending with a backslash, or empty
  std::string spoolDirectory;    // setup directory + "\Spool\"
  std::string backupDirectory;   // setup directory + "\Backup"
  RestoreJournal restoreScript;  // closed at the latest when the run goes
  // restore.reg, when the run's registry changes go through it: the import
  // opens it before anything moves.
  RegistryUndo* registryUndo = nullptr;
  ImportCounts counts;
  // The registry already holds imported queues: the import declined.
  bool declined = false;

  // True when `profile` can be read (or is not there at all); otherwise the
  // user is told that it is neither imported nor moved.
  bool Readable(const CIni& profile);
  // The data file names this run has placed in the spool directory: no job's
  // data replaces another's.
  FileNameSet spooledNames;
  // The spooled copies earlier runs' restore scripts copy back: one may be
  // replaced only by the same bytes, since it may be the only copy of its
  // job's data left.
  FileNameSet spooledEarlier;
  // The control-file names of the jobs this run has written (Jobs\<name>):
  // no job's record replaces another's.
  FileNameSet jobNames;
};
