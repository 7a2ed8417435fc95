#include "app/CheckLUMDlg.h"

#include "import/ImportDriver.h"
#include "messages/Messages.h"
#include "uninstall/UninstallHandOver.h"

CCheckLUMDlg::CCheckLUMDlg(Env& e) : log(e), undo(log), env(undo), run(undo, *this) {
  run.registryUndo = &undo;
}

void CCheckLUMDlg::UpdateData() {
  env.ShowProgress(statusLine, detailLine);
}

void CCheckLUMDlg::ShowStatus(const std::string& text) {
  statusLine = text;
  UpdateData();
}

void CCheckLUMDlg::ShowDetail(const std::string& text) {
  detailLine = text;
  UpdateData();
}

bool CCheckLUMDlg::DiscoverDirectories() {
  std::string windowsDirectory;
  if (!env.WindowsDirectory(&windowsDirectory)) {
    uint32_t error = env.LastError();
    std::string text, message;
    GetSystemErrorText(env, text, error);
    AppendTableMessage(env, message, kMsgWindowsDirectoryError, text.c_str());
    env.ShowMessage(message, kMbOk);
    return false;
  }
  FindSetupDirectory();
  return true;
}

void CCheckLUMDlg::FindSetupDirectory() {
  // Without the program's path the setup directory stays empty and the
  // import's directories are formed from the empty string.
  std::string program;
  if (env.ModuleFileName(&program)) {
    size_t slash = program.rfind('\\');
    run.setupDirectory = slash == std::string::npos ? program : program.substr(0, slash + 1);
  }
  undo.SetBackupDirectory(BackupDirectory(run.setupDirectory));
  log.SetBackupDirectory(BackupDirectory(run.setupDirectory));
}

bool CCheckLUMDlg::RunWorkStep() {
  bool ok = RunWork();
  FinishLog();
  return ok;
}

bool CCheckLUMDlg::RunWork() {
  // restore.reg and the log must be at hand from the hand-over's first
  // change on.
  FindSetupDirectory();
  HandOverUninstallEntry(env, &handOver_);  // its result does not change the course
  if (handOver_ == HandOver::kNoUninstaller) log.Note(kLogNoUninstaller);
  ok_ = DiscoverDirectories() && ImportSettings(run);
  // Its last moves belong in the log; a journal that broke ends the run
  // with Cancel, since files that were to move are still in place.
  ok_ = run.restoreScript.Close() && ok_;
  return ok_;
}

RunOutcome CCheckLUMDlg::Outcome() const {
  // Each message tells of something not carried over as it was.
  if (ok_) return log.Messages() == 0 ? RunOutcome::kOk : RunOutcome::kIncomplete;
  if (run.declined) return RunOutcome::kDeclined;
  return log.Changes() == 0 ? RunOutcome::kNotStarted : RunOutcome::kIncomplete;
}

void CCheckLUMDlg::FinishLog(const std::string& failure) {
  const std::string moved =
      CountOf(env, run.restoreScript.FilesBackedUp(), kCountFile, kCountFiles);
  std::string result;
  if (!failure.empty()) {
    AppendTableMessage(env, result, kLogRunNotSaved, failure.c_str(), moved.c_str());
  } else if (Outcome() == RunOutcome::kDeclined) {
    AppendTableMessage(env, result, kLogRunDeclined);
  } else if (Outcome() == RunOutcome::kNotStarted) {
    AppendTableMessage(env, result, kLogRunNotStarted);
  } else {
    const uint32_t id = !ok_                                   ? kLogRunCancel
                        : Outcome() == RunOutcome::kIncomplete ? kLogRunOkIncomplete
                                                               : kLogRunOk;
    AppendTableMessage(
        env, result, id, CountOf(env, run.counts.queues, kCountQueue, kCountQueues).c_str(),
        CountOf(env, run.counts.jobs, kCountJob, kCountJobs).c_str(),
        CountOf(env, run.counts.dataFiles, kCountDataFile, kCountDataFiles).c_str(), moved.c_str());
  }
  log.Finish(result);
}
