// CCheckLUMDlg: the progress dialog's state and its one-shot work step, shared
// by both builds. The Windows build binds it to dialog template 102; the
// Linux build drives it from the command line. Either way the view is the
// Env's progress view.
#pragma once

#include <string>

#include "import/ImportRun.h"
#include "import/RegistryUndo.h"
#include "import/RunLog.h"
#include "platform/Env.h"

class CCheckLUMDlg : public ImportProgress {
 public:
  explicit CCheckLUMDlg(Env& env);

  // Pushes the status and detail lines to the view.
  void UpdateData();

  // The work step: uninstall hand-over, directory discovery, settings import,
  // and the log's result line. True when the dialog ends with OK, false for
  // Cancel.
  bool RunWorkStep();

  // Finds the Windows directory (its absence is reported in a message box)
  // and the setup directory.
  bool DiscoverDirectories();
  // Finds the setup directory (the program's own), whose Backup folder
  // receives restore.reg.
  void FindSetupDirectory();

  // The import's progress: each line is shown as soon as it changes.
  void ShowStatus(const std::string& text) override;
  void ShowDetail(const std::string& text) override;

  // The run's record, CheckLUM.log, just above the Env the dialog was given.
  RunLog log;
  // Every registry change of the run goes through it, so that restore.reg
  // can undo the run; `env` is this wrapper.
  RegistryUndo undo;
  Env& env;
  std::string statusLine;
  std::string detailLine;
  // The import's state: the setup directory that discovery fills, the spool
  // and backup directories and the restore script, which is closed at the
  // latest when the dialog goes.
  ImportRun run;
};
