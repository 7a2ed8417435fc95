#include "import/RestoreJournal.h"

#include "messages/Messages.h"
#include "platform/WinError.h"

namespace {

// Moves committed together: one flush for this many files.
constexpr size_t kCommitGroup = 256;

// Characters that cmd takes literally in an unquoted copy argument.
bool IsSafeUnquoted(unsigned char c) {
  if (c >= 0x80) return true;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '\\':
    case ':':
    case '.':
    case '_':
    case '-':
    case '~':
      return true;
    default:
      return false;
  }
}

std::string Field(const std::string& text, bool alwaysQuote) {
  bool quote = alwaysQuote || text.empty();
  for (unsigned char c : text) {
    if (!IsSafeUnquoted(c)) quote = true;
  }
  std::string field = quote ? "\"" : "";
  for (char c : text) {
    field += c;
    if (c == '%') field += '%';  // a batch file reads %% as one %
  }
  if (quote) field += '"';
  return field;
}

// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9, in any letter case and
// with any extension, name devices wherever they stand in a path.
bool IsDeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

RestoreJournal::RestoreJournal(Env& env) : env_(env), takenNames_(FileNameOrder{&env}) {}

RestoreJournal::~RestoreJournal() {
  Close();
}

bool RestoreJournal::Open(const std::string& backupDirectory, const std::string& spoolDirectory) {
  Close();
  backupDirectory_ = backupDirectory;
  takenNames_.clear();
  FoundFile found;
  if (auto search = env_.FindFirst(backupDirectory + "\\*", &found)) {
    do {
      if (!found.directory) takenNames_.insert(found.name);
    } while (search->Next(&found));
  }
  const std::string* directories[] = {&backupDirectory, &spoolDirectory};
  for (int i = 0; i < 2; ++i) {
    std::string& full = ownDirectories_[i];
    if (!env_.FullPathName(*directories[i], &full)) full.clear();
    while (!full.empty() && full.back() == '\\') full.pop_back();
  }
  std::string path = backupDirectory + "\\restore.bat";
  // An earlier run's script is the way back from that run: it is kept as
  // restore.bat.N before this run's script replaces it.
  if (!KeepEarlierFile(env_, path)) return false;
  script_ = env_.CreateWritable(path);
  if (script_) return true;
  std::string error, text;
  GetSystemErrorText(env_, error, env_.LastError());
  AppendTableMessage(env_, text, kMsgRestoreScriptNotCreated, path.c_str(), error.c_str());
  Report(text);
  return false;
}

bool RestoreJournal::Commit() {
  if (!script_ || !unsynced_) return !broken_;
  std::vector<std::string> files = spooled_;
  for (const PendingMove& move : pending_) files.push_back(move.backupPath);
  if (!env_.FlushFiles(files) || !script_->Sync()) {
    std::string error, text;
    GetSystemErrorText(env_, error, env_.LastError());
    AppendTableMessage(env_, text, kMsgBackupsNotDurable, backupDirectory_.c_str(), error.c_str());
    Report(text);
    pending_.clear();
    spooled_.clear();
    unsynced_ = false;
    broken_ = true;
    return false;
  }
  for (const PendingMove& move : pending_) {
    if (env_.RemoveFile(move.source)) continue;
    // A read-only file moves like any other: its copy is safe by now.
    uint32_t failure = env_.LastError();
    if (failure == kErrorAccessDenied) {
      if (env_.MakeWritable(move.source) && env_.RemoveFile(move.source)) continue;
      failure = env_.LastError();
    }
    std::string error, text;
    GetSystemErrorText(env_, error, failure);
    AppendTableMessage(env_, text, kMsgSourceNotDeleted, move.source.c_str(),
                       move.backupName.c_str(), error.c_str());
    Report(text);
  }
  pending_.clear();
  spooled_.clear();
  unsynced_ = false;
  return true;
}

bool RestoreJournal::CommitBefore(const std::string& directory) {
  std::string folder;
  if (!env_.FullPathName(directory, &folder)) return Commit();
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  for (const PendingMove& move : pending_) {
    std::string source;
    if (!env_.FullPathName(move.source, &source)) return Commit();
    size_t slash = source.rfind('\\');
    if (slash == std::string::npos || env_.CompareFileNames(source.substr(0, slash), folder) == 0) {
      return Commit();
    }
  }
  return !broken_;
}

void RestoreJournal::Close() {
  if (!script_) return;
  Commit();
  script_->Close();
  script_.reset();
}

std::string RestoreJournal::CopyLine(const std::string& from, const std::string& to,
                                     bool alwaysQuote) {
  return "copy/y " + Field(from, alwaysQuote) + " " + Field(to, alwaysQuote) + "\r\n";
}

bool RestoreJournal::IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  // Windows drops trailing dots and blanks, so such a name would be another.
  if (name.back() == '.' || name.back() == ' ' || IsDeviceName(name)) return false;
  for (unsigned char c : name) {
    if (c < 0x20) return false;
    switch (c) {
      case '\\':
      case '/':
      case ':':
      case '<':
      case '>':
      case '"':
      case '|':
      case '?':
      case '*':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool RestoreJournal::AppendLine(const std::string& line) {
  std::string oem;
  if (!script_ || !env_.ToOemText(line, &oem)) return false;
  if (!script_->Append(oem)) return false;
  ++linesWritten_;
  unsynced_ = true;
  return true;
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

std::string RestoreJournal::UnusedBackupName(const std::string& name) {
  // A name this run has used, or a file an earlier run left, is taken: no
  // backup is ever replaced.
  std::string candidate = name;
  for (int n = 2; takenNames_.count(candidate) != 0; ++n) {
    candidate = name + "~" + std::to_string(n);
  }
  return candidate;
}

bool RestoreJournal::KeepEarlierFile(Env& env, const std::string& path) {
  FoundFile found;
  if (!env.FindFirst(path, &found)) return true;
  for (int n = 1;; ++n) {
    std::string kept = path + "." + std::to_string(n);
    if (env.FindFirst(kept, &found)) continue;
    if (env.CopyFileTo(path, kept, true)) return true;
    std::string error, text;
    GetSystemErrorText(env, error, env.LastError());
    AppendTableMessage(env, text, kMsgEarlierScriptNotKept, path.c_str(), kept.c_str(),
                       error.c_str());
    env.ShowMessage(text, kMbOk);
    return false;
  }
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
  std::string name, backupPath;
  bool copied = false;
  uint32_t copyError = kErrorSuccess;
  do {
    name = UnusedBackupName(OemSafeName(backupName));
    backupPath = backupDirectory_ + "\\" + name;
    // Never over a file: one that came after the directory was read only
    // takes its name from the choice.
    copied = env_.CopyFileTo(source, backupPath, true);
    copyError = copied ? kErrorSuccess : env_.LastError();
    if (copyError == kErrorFileExists) takenNames_.insert(name);
  } while (copyError == kErrorFileExists);

  if (!copied) {
    if (SourceExists(source)) {
      std::string error, text;
      GetSystemErrorText(env_, error, copyError);
      AppendTableMessage(env_, text, kMsgBackupCopyFailed, source.c_str(), backupPath.c_str(),
                         error.c_str());
      Report(text);
      return;
    }
    // Nothing to move; the line is still written, so the script names every
    // file the old installation referred to.
    takenNames_.insert(name);
    AppendLine(CopyLine(name, source, false));
    return;
  }
  takenNames_.insert(name);
  ++filesBackedUp_;
  if (!AppendLine(CopyLine(name, source, false))) {
    std::string error, text;
    GetSystemErrorText(env_, error, env_.LastError());
    AppendTableMessage(env_, text, kMsgRestoreLineNotWritten, error.c_str(), source.c_str(),
                       name.c_str());
    Report(text);
    return;
  }
  pending_.push_back({source, backupPath, name});
  if (pending_.size() >= kCommitGroup) Commit();
}

bool RestoreJournal::AddJobFileCopyLine(const std::string& copy, const std::string& original) {
  std::string fullCopy = FullPath(copy), fullOriginal = FullPath(original);
  if (broken_ || fullCopy.empty() || fullOriginal.empty()) return false;
  // The copy becomes durable with its line: a line that outlived a lost copy
  // would restore nothing over the original.
  spooled_.push_back(copy);
  return AppendLine(CopyLine(fullCopy, fullOriginal, true));
}
