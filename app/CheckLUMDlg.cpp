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
  // restore.reg and the log must be at hand from the hand-over's first
  // change on.
  FindSetupDirectory();
  HandOverUninstallEntry(env);  // its result does not change the course
  bool ok = DiscoverDirectories() && ImportSettings(run);
  // Its last moves belong in the log; a journal that broke ends the run
  // with Cancel, since files that were to move are still in place.
  ok = run.restoreScript.Close() && ok;
  std::string result;
  AppendTableMessage(env, result, ok ? kLogRunOk : kLogRunCancel, run.counts.queues,
                     run.counts.jobs, run.counts.dataFiles, run.restoreScript.FilesBackedUp());
  log.Finish(result);
  return ok;
}
