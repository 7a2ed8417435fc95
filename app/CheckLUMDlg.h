// CCheckLUMDlg: the progress dialog's state and its one-shot work step, shared
// by both builds. The Windows build binds it to dialog template 102; the
// Linux build drives it from the command line. Either way the view is the
// Env's progress view.
#pragma once

#include <string>

#include "import/RestoreJournal.h"
#include "platform/Env.h"

class CCheckLUMDlg {
 public:
  explicit CCheckLUMDlg(Env& env);

  // Pushes the status and detail lines to the view.
  void UpdateData();

  // The work step: uninstall hand-over, directory discovery, settings import.
  // True when the dialog ends with OK, false for Cancel.
  bool RunWorkStep();

  // Finds the Windows directory (its absence is reported in a message box)
  // and the setup directory.
  bool DiscoverDirectories();

  Env& env;
  std::string statusLine;
  std::string detailLine;
  std::string setupDirectory;    // the program's directory, ending with a backslash
  std::string backupDirectory;   // setup directory + "\Backup"
  std::string spoolDirectory;    // setup directory + "\Spool\"
  RestoreJournal restoreScript;  // closed at the latest when the dialog goes
};
