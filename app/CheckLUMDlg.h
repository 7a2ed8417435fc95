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
#include "uninstall/UninstallHandOver.h"

// How a run ended, as the program tells whoever started it: its exit
// status, the same in both builds.
enum class RunOutcome {
  kOk = 0,          // everything found was carried over, or there was nothing to import
  kDeclined = 1,    // the registry already holds imported queues: nothing was imported
  kNotStarted = 2,  // the run could not start, and nothing was changed
  kIncomplete = 3,  // something was changed, but not everything carried over, or the run
                    // stopped: the messages and the log say what; the way back undoes it
};

class CCheckLUMDlg : public ImportProgress {
 public:
  explicit CCheckLUMDlg(Env& env);

  // Pushes the status and detail lines to the view.
  void UpdateData();

  // The work step: uninstall hand-over, directory discovery and settings
  // import, then the log's result line. True when the dialog ends with OK,
  // false for Cancel.
  bool RunWorkStep();
  // The work step without the result line, for a caller that has more to
  // do (save the registry) before the result is known.
  bool RunWork();
  // How the run ended, once the work step is done.
  RunOutcome Outcome() const;
  // The log's result line, saying what the run did; with `failure`, the
  // registry could not be saved, for that reason.
  void FinishLog(const std::string& failure = {});
  // What the hand-over did.
  HandOver HandOverResult() const { return handOver_; }

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

 private:
  bool ok_ = false;
  HandOver handOver_ = HandOver::kNoEntry;
};
