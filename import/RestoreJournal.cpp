#include "import/RestoreJournal.h"

#include "messages/Messages.h"
#include "platform/WinError.h"

namespace {

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = AsciiUpper(c);
  return folded;
}

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

}  // namespace

RestoreJournal::RestoreJournal(Env& env) : env_(env) {}

RestoreJournal::~RestoreJournal() {
  Close();
}

bool RestoreJournal::Open(const std::string& backupDirectory) {
  Close();
  backupDirectory_ = backupDirectory;
  usedNames_.clear();
  std::string path = backupDirectory + "\\restore.bat";
  script_ = env_.CreateWritable(path);
  if (script_) return true;
  std::string error, text;
  GetSystemErrorText(env_, error, env_.LastError());
  AppendTableMessage(env_, text, kMsgRestoreScriptNotCreated, path.c_str(), error.c_str());
  Report(text);
  return false;
}

void RestoreJournal::Close() {
  if (!script_) return;
  script_->Close();
  script_.reset();
}

std::string RestoreJournal::CopyLine(const std::string& from, const std::string& to,
                                     bool alwaysQuote) {
  return "copy/y " + Field(from, alwaysQuote) + " " + Field(to, alwaysQuote) + "\r\n";
}

bool RestoreJournal::IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
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
  if (!script_ || !script_->Append(line) || !script_->Sync()) return false;
  ++linesWritten_;
  return true;
}

std::string RestoreJournal::UnusedBackupName(const std::string& name) const {
  std::string candidate = name;
  for (int n = 2; usedNames_.count(Folded(candidate)) != 0; ++n) {
    candidate = name + "~" + std::to_string(n);
  }
  return candidate;
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

void RestoreJournal::MoveToBackup(const std::string& source, const std::string& backupName) {
  if (!script_) return;  // never move a file whose way back cannot be written
  if (!IsPlainFileName(backupName)) {
    std::string text;
    AppendTableMessage(env_, text, kMsgBackupNameInvalid, source.c_str(), backupName.c_str());
    Report(text);
    return;
  }
  std::string name = UnusedBackupName(backupName);
  std::string backupPath = backupDirectory_ + "\\" + name;

  if (!env_.CopyFileTo(source, backupPath, false)) {
    uint32_t copyError = env_.LastError();
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
    usedNames_.insert(Folded(name));
    AppendLine(CopyLine(name, source, false));
    return;
  }
  usedNames_.insert(Folded(name));
  if (!AppendLine(CopyLine(name, source, false))) {
    std::string error, text;
    GetSystemErrorText(env_, error, env_.LastError());
    AppendTableMessage(env_, text, kMsgRestoreLineNotWritten, error.c_str(), source.c_str(),
                       name.c_str());
    Report(text);
    return;
  }
  env_.RemoveFile(source);
}

bool RestoreJournal::AddJobFileCopyLine(const std::string& copy, const std::string& original) {
  return AppendLine(CopyLine(copy, original, true));
}
