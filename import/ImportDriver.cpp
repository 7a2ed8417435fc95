#include "import/ImportDriver.h"

#include "import/GeneralSettings.h"
#include "import/ProductKey.h"
#include "import/QueueImport.h"
#include "import/TableProfiles.h"
#include "messages/Messages.h"
#include "platform/WinError.h"
#include "profile/Ini.h"

namespace {

// True when the product key already holds configured queues, or when that
// cannot be known: an import over existing queues would mix two
// configurations, so doubt counts as "queues exist".
bool QueuesExist(Env& env, RegKey productKey) {
  RegKey queues = 0;
  if (env.OpenKey(productKey, "Queues", &queues) != 0) return false;
  uint32_t count = 0;
  uint32_t rc = env.QueryKeyInfo(queues, &count, nullptr);
  env.CloseKey(queues);
  return rc != 0 || count >= 1;
}

std::string FoundName(Env& env, const std::string& path) {
  FoundFile found;
  if (path.empty() || !env.FindFirst(path, &found)) return "";
  return found.name;
}

}  // namespace

std::string BackupDirectory(const std::string& setupDirectory) {
  // The setup directory ends with its backslash, and one more is added: the
  // doubled separator has always been part of the paths the run writes.
  return setupDirectory + "\\Backup";
}

std::string PointerProfilePath(const std::string& windowsDirectory) {
  bool endsWithBackslash = !windowsDirectory.empty() && windowsDirectory.back() == '\\';
  return windowsDirectory + (endsWithBackslash ? "lum.ini" : "\\lum.ini");
}

std::string OldInstallationDirectory(const std::string& iniValue, const std::string& foundName) {
  // The directory is what stands before the file's own name. The name is
  // looked for from the end, so a directory that happens to contain the same
  // text (C:\lum\lum) does not cut the path short.
  size_t at = foundName.empty() ? std::string::npos : iniValue.rfind(foundName);
  if (at != std::string::npos && at >= 1) return iniValue.substr(0, at);
  size_t slash = iniValue.rfind('\\');
  return slash == std::string::npos ? "" : iniValue.substr(0, slash + 1);
}

bool ImportSettings(ImportRun& run) {
  Env& env = run.env;
  RegKey productKey = 0;
  if (uint32_t rc = env.CreateKey(kHKeyLocalMachine, kProductKeyPath, &productKey, nullptr)) {
    // Typically a run without an administrator's rights: nothing has changed
    // yet, and the user must know that nothing will.
    std::string error, text;
    GetSystemErrorText(env, error, rc);
    // Only a refusal is a matter of rights; restore.reg that cannot record
    // the key's state, or a full disk, is not.
    AppendTableMessage(
        env, text, rc == kErrorAccessDenied ? kMsgProductKeyNotOpened : kMsgProductKeyNotWritten,
        error.c_str());
    env.ShowMessage(text, kMbOk);
    return false;
  }

  std::string status;
  env.LoadTableString(kMsgImportingFile, &status);
  run.progress.ShowStatus(status);

  if (QueuesExist(env, productKey)) {
    env.CloseKey(productKey);
    run.declined = true;
    return false;
  }

  run.spoolDirectory = run.setupDirectory + "\\Spool";
  env.CreateDir(run.spoolDirectory);
  run.spoolDirectory += "\\";

  std::string windowsDirectory;
  env.WindowsDirectory(&windowsDirectory);
  std::string pointerProfile = PointerProfilePath(windowsDirectory);
  run.progress.ShowDetail(pointerProfile);

  CIni profile(env, pointerProfile);
  bool pointerReadable = run.Readable(profile);
  std::string iniValue = pointerReadable ? profile.ReadString("Settings", "Ini") : "";
  // The main profile as the profile functions find it: reading, moving and
  // the restore line all name this one file.
  std::string mainProfile = iniValue.empty() ? "" : ProfileFullPath(env, iniValue);
  std::string oldDirectory = OldInstallationDirectory(mainProfile, FoundName(env, mainProfile));

  run.backupDirectory = BackupDirectory(run.setupDirectory);
  env.CreateDir(run.backupDirectory);
  if ((run.registryUndo != nullptr && !run.registryUndo->Open()) ||
      !run.restoreScript.Open(run.backupDirectory, run.spoolDirectory)) {
    env.CloseKey(productKey);
    return false;
  }
  // An earlier run's way back still names its spooled copies.
  for (const std::string& name : run.restoreScript.SpooledEarlier()) {
    run.spooledEarlier.Insert(name);
  }

  profile.SetPath(mainProfile);
  run.progress.ShowDetail(mainProfile);
  if (pointerReadable) {
    if (iniValue.empty() && !FoundName(env, pointerProfile).empty()) {
      std::string text;
      AppendTableMessage(env, text, kMsgNoMainProfile, pointerProfile.c_str());
      env.ShowMessage(text, kMbOk);
    }
    run.restoreScript.MoveToBackup(pointerProfile, "winlum.ini");
  }

  // A main profile that cannot be read is neither imported nor moved; the
  // table profiles beside it still are.
  if (mainProfile.empty() || run.Readable(profile)) {
    ImportGeneralSettings(env, profile, productKey);
    if (!ImportCurrentJobs(env, profile, productKey)) {
      run.restoreScript.Commit();  // what has moved so far is done with
      env.CloseKey(productKey);
      return false;
    }
    ImportQueues(run, profile);
  }
  ImportTableProfiles(run, oldDirectory);

  run.restoreScript.Close();
  env.CloseKey(productKey);
  return true;
}
