#include "app/RestoreImage.h"

#include <algorithm>

#include "import/EarlierFiles.h"
#include "import/RestoreLines.h"
#include "messages/Messages.h"
#include "platform/WinError.h"
#include "platform/portable/registry/RegistryImport.h"
#include "platform/portable/text/Text.h"

namespace fs = std::filesystem;

namespace {

// A path as cmd resolves it with the backup directory as the current one:
// "\x" lies in the root of the current drive, "D:x" in the current folder of
// drive D: (the backup directory on its own drive, else that drive's root).
std::string FromBackup(const std::string& backupDirectory, const std::string& path) {
  bool drive = path.size() >= 2 && path[1] == ':';
  if ((drive && path.size() >= 3 && path[2] == '\\') || path.rfind("\\\\", 0) == 0) return path;
  std::string current = backupDirectory.substr(0, 2);
  if (!path.empty() && path[0] == '\\') return current + path;
  if (!drive) return backupDirectory + "\\" + path;
  bool sameDrive =
      (path[0] & ~0x20) == (current[0] & ~0x20) && current.size() == 2 && current[1] == ':';
  return sameDrive ? backupDirectory + "\\" + path.substr(2)
                   : path.substr(0, 2) + "\\" + path.substr(2);
}

}  // namespace

std::vector<std::string> RestoreChainNames(EnvPortable& env, const std::string& backupDirectory,
                                           const std::string& name) {
  std::vector<std::string> chain;
  std::string path = backupDirectory + "\\" + name;
  FoundFile found;
  if (env.FindFirst(path, &found)) chain.push_back(name);
  std::vector<int> kept = KeptNumbers(env, path);
  std::sort(kept.rbegin(), kept.rend());
  for (int n : kept) chain.push_back(name + "." + std::to_string(n));
  return chain;
}

RestoreOutcome RestoreImage(EnvPortable& env, const std::string& backupDirectory,
                            std::ostream& messages) {
  RestoreOutcome outcome;
  struct Copy {
    std::string script;
    int number = 0;
    std::string from, to;
    bool bare = false;  // the backup's bare name, in the backup directory
  };
  std::vector<Copy> copies;
  for (const std::string& name : RestoreChainNames(env, backupDirectory, "restore.bat")) {
    std::string path = backupDirectory + "\\" + name;
    int number = 0;
    bool read = ForEachCompleteLine(env, path, [&](std::string_view line) {
      ++number;
      if (line.empty()) return;
      Copy copy{path, number, {}, {}, false};
      if (!ParseCopyLine(OemToCp1252(line, env.OemCodePage()), &copy.from, &copy.to)) {
        messages << FormatTableString(kMsgCliRestoreLineRefused, path.c_str(), number);
        ++outcome.failed;
        return;
      }
      copy.bare = IsBackupName(copy.from);
      copy.from = FromBackup(backupDirectory, copy.from);
      copy.to = FromBackup(backupDirectory, copy.to);
      if (env.LeadsOutside(copy.from) || env.LeadsOutside(copy.to)) {
        messages << FormatTableString(kMsgCliRestoreOutsideImage, path.c_str(), number,
                                      copy.from.c_str(), copy.to.c_str());
        ++outcome.failed;
        return;
      }
      copies.push_back(std::move(copy));
    });
    if (read) {
      ++outcome.scripts;
    } else {
      messages << FormatTableString(kMsgCliRestoreFileUnreadable, path.c_str());
      ++outcome.failed;
    }
  }

  // The registry first: its undo files are applied all together or not at
  // all, so when they cannot be, nothing has changed yet and the
  // installation stays as the runs left it, whole. The copies come after:
  // each one can fail on its own, and --restore once more finishes what
  // is left (copying back again, and undoing again, changes nothing).
  std::vector<fs::path> undo;
  for (const std::string& name : RestoreChainNames(env, backupDirectory, "restore.reg")) {
    undo.push_back(env.HostPath(backupDirectory + "\\" + name));
  }
  std::string error;
  if (!undo.empty() && !env.ImportRegistryFiles(undo, &error)) {
    messages << FormatTableString(kMsgCliRestoreRegistryFailed, error.c_str());
    outcome.registryRestored = false;
    outcome.scripts = 0;
    return outcome;
  }
  outcome.registryFiles = static_cast<int>(undo.size());

  std::vector<std::string> restored;
  for (const Copy& copy : copies) {
    if (env.CopyFileTo(copy.from, copy.to, false)) {
      restored.push_back(copy.to);
      continue;
    }
    uint32_t error = env.LastError();
    if (copy.bare && error == kErrorFileNotFound) {
      ++outcome.absent;  // as cmd says "cannot find the file" and goes on
      continue;
    }
    std::string reason;
    GetSystemErrorText(env, reason, error);
    messages << FormatTableString(kMsgCliRestoreCopyFailed, copy.script.c_str(), copy.number,
                                  copy.from.c_str(), copy.to.c_str(), reason.c_str());
    ++outcome.failed;
  }
  // Back only once durable.
  if (!restored.empty() && !env.FlushFiles(restored)) {
    std::string reason;
    GetSystemErrorText(env, reason, env.LastError());
    messages << FormatTableString(kMsgCliRestoreNotDurable, reason.c_str());
    outcome.failed += static_cast<int>(restored.size());
    return outcome;
  }
  outcome.copied = static_cast<int>(restored.size());
  return outcome;
}
