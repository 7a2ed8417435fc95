#include "import/RestoreJournal.h"

#include "import/EarlierFiles.h"
#include "import/RestoreLines.h"
#include "messages/Messages.h"
#include "platform/WinError.h"

namespace {

// Moves committed together: one flush of the copies and one of the script
// for this many files.
constexpr size_t kCommitGroup = 1024;

}  // namespace

RestoreJournal::RestoreJournal(Env& env) : env_(env), names_(env) {}

RestoreJournal::~RestoreJournal() {
  Close();
}

bool RestoreJournal::Open(const std::string& backupDirectory, const std::string& spoolDirectory) {
  Close();
  broken_ = false;
  backupDirectory_ = backupDirectory;
  const std::string* directories[] = {&backupDirectory, &spoolDirectory};
  for (int i = 0; i < 2; ++i) {
    std::string& full = ownDirectories_[i];
    if (!env_.FullPathName(*directories[i], &full)) full.clear();
    while (!full.empty() && full.back() == '\\') full.pop_back();
  }
  scriptPath_ = backupDirectory + "\\restore.bat";
  if (!KeepEarlierFile(env_, scriptPath_)) return false;
  names_.Load(backupDirectory, ownDirectories_[1]);
  script_ = env_.CreateWritable(scriptPath_);
  if (script_) return true;
  std::string error, text;
  GetSystemErrorText(env_, error, env_.LastError());
  AppendTableMessage(env_, text, kMsgRestoreScriptNotCreated, scriptPath_.c_str(), error.c_str());
  Report(text);
  return false;
}

bool RestoreJournal::Commit() {
  if (!script_ || broken_ || group_.Empty()) return !broken_;
  int lines = static_cast<int>(group_.Entries().size());
  int moved = 0;
  for (const MoveGroup::Entry& entry : group_.Entries()) moved += entry.source.empty() ? 0 : 1;
  if (!group_.Commit(env_, *script_, scriptPath_, backupDirectory_)) {
    broken_ = true;
    return false;
  }
  linesWritten_ += lines;
  filesBackedUp_ += moved;
  return true;
}

bool RestoreJournal::CommitBefore(const std::string& directory) {
  std::string folder;
  if (!env_.FullPathName(directory, &folder)) return Commit();
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  for (const MoveGroup::Entry& entry : group_.Entries()) {
    if (entry.source.empty()) continue;
    size_t slash = entry.source.rfind('\\');
    if (slash == std::string::npos ||
        env_.CompareFileNames(entry.source.substr(0, slash), folder) == 0) {
      return Commit();
    }
  }
  return !broken_;
}

bool RestoreJournal::Close() {
  if (!script_) return !broken_;
  Commit();
  script_->Close();
  script_.reset();
  return !broken_;
}

void RestoreJournal::Add(MoveGroup::Entry entry, const std::string& line) {
  env_.ToOemText(line, &entry.line);  // CanName has made sure it can
  group_.Add(std::move(entry));
  if (group_.Entries().size() >= kCommitGroup) Commit();
}

std::string RestoreJournal::OemSafeName(const std::string& name) {
  std::string safe, oem;
  for (char c : name) safe += env_.ToOemText(std::string(1, c), &oem) ? c : '_';
  return safe;
}

bool RestoreJournal::CanName(const std::string& path) {
  std::string oem;
  return env_.ToOemText(path, &oem);
}

void RestoreJournal::ReportNotNameable(const std::string& path) {
  std::string text;
  AppendTableMessage(env_, text, kMsgNameNotRestorable, path.c_str());
  Report(text);
}

bool RestoreJournal::SourceExists(const std::string& source) {
  FoundFile found;
  if (env_.FindFirst(source, &found)) return true;
  uint32_t error = env_.LastError();
  return error != kErrorFileNotFound && error != kErrorPathNotFound;
}

void RestoreJournal::Report(const std::string& text) {
  env_.ShowMessage(text, kMbOk);
}

std::string RestoreJournal::FullPath(const std::string& path) {
  std::string full;
  if (env_.FullPathName(path, &full)) return full;
  std::string error, text;
  GetSystemErrorText(env_, error, env_.LastError());
  AppendTableMessage(env_, text, kMsgPathNotResolved, path.c_str(), error.c_str());
  Report(text);
  return "";
}

bool RestoreJournal::Inside(const std::string& path, const std::string& directory) const {
  return !directory.empty() && path.size() > directory.size() && path[directory.size()] == '\\' &&
         env_.CompareFileNames(std::string_view(path).substr(0, directory.size()), directory) == 0;
}

bool RestoreJournal::InOwnDirectory(const std::string& path) {
  std::string full;
  if (!env_.FullPathName(path, &full)) return false;
  return Inside(full, ownDirectories_[0]) || Inside(full, ownDirectories_[1]);
}

void RestoreJournal::MoveToBackup(const std::string& givenSource, const std::string& backupName) {
  // Never move a file without its way back.
  if (!script_ || broken_ || givenSource.empty()) return;
  if (!IsPlainFileName(backupName)) {
    std::string text;
    AppendTableMessage(env_, text, kMsgBackupNameInvalid, givenSource.c_str(), backupName.c_str());
    Report(text);
    return;
  }
  std::string source = FullPath(givenSource);
  if (source.empty()) return;
  // The line names the file as it is spelled on disk, so that restoring it
  // gives back its own name, not the spelling a profile used for it.
  FoundFile entry;
  bool exists = env_.FindFirst(source, &entry) && !entry.directory;
  if (exists) source = source.substr(0, source.rfind('\\') + 1) + entry.name;
  if (InOwnDirectory(source)) {
    // Moving the import's own files would overwrite a backup or the script.
    std::string text;
    AppendTableMessage(env_, text, kMsgSourceInOwnDirectory, source.c_str());
    Report(text);
    return;
  }
  if (!CanName(source)) {
    if (exists) ReportNotNameable(source);  // a missing file needs no line
    return;
  }
  // The backup name is the import's own choice: a character the script
  // could not carry becomes '_', so the file still moves.
  std::string wanted = OemSafeName(backupName);
  std::string name, backupPath;
  bool copied = false;
  uint32_t copyError = kErrorSuccess;
  do {
    name = names_.Unused(wanted);
    backupPath = backupDirectory_ + "\\" + name;
    // Never over a file: one that came after the directory was read only
    // moves the choice on.
    copied = env_.CopyFileTo(source, backupPath, true);
    copyError = copied ? kErrorSuccess : env_.LastError();
    if (copyError == kErrorFileExists) names_.Take(name);
  } while (copyError == kErrorFileExists);

  if (!copied && SourceExists(source)) {
    // Only a copy that was made gets a line.
    std::string error, text;
    GetSystemErrorText(env_, error, copyError);
    AppendTableMessage(env_, text, kMsgBackupCopyFailed, source.c_str(), backupPath.c_str(),
                       error.c_str());
    Report(text);
    return;
  }
  names_.Take(name);
  if (!copied) {
    // Nothing to move; the name stays reserved for this line for good.
    Add({"", "", "", name}, CopyLine(name, source, false));
    return;
  }
  Add({backupPath, "", source, name}, CopyLine(name, source, false));
}

bool RestoreJournal::AddJobFileCopyLine(const std::string& copy, const std::string& original) {
  std::string fullCopy = FullPath(copy), fullOriginal = FullPath(original);
  if (!script_ || broken_ || fullCopy.empty() || fullOriginal.empty()) return false;
  Add({copy, "", "", ""}, CopyLine(fullCopy, fullOriginal, true));
  return true;
}
