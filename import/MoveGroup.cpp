#include "import/MoveGroup.h"

#include "messages/Messages.h"
#include "platform/WinError.h"

namespace {

void Report(Env& env, uint32_t id, const std::string& where) {
  std::string error, text;
  GetSystemErrorText(env, error, env.LastError());
  AppendTableMessage(env, text, id, where.c_str(), error.c_str());
  env.ShowMessage(text, kMbOk);
}

}  // namespace

bool MoveGroup::Commit(Env& env, WritableFile& script, const std::string& scriptPath,
                       const std::string& backupDirectory) {
  std::vector<Entry> entries;
  entries.swap(entries_);
  std::vector<std::string> copies;
  std::string lines;
  for (const Entry& entry : entries) {
    if (!entry.copy.empty()) copies.push_back(entry.copy);
    lines += entry.line;
  }
  if (!copies.empty() && !env.FlushFiles(copies)) {
    Report(env, kMsgBackupsNotDurable, backupDirectory);
    return false;
  }
  if (!script.Append(lines) || !script.Sync()) {
    Report(env, kMsgRestoreLineNotWritten, scriptPath);
    return false;
  }
  for (const Entry& entry : entries) {
    if (!entry.source.empty()) DeleteSource(env, entry);
  }
  return true;
}

void MoveGroup::DeleteSource(Env& env, const Entry& entry) {
  if (env.RemoveFile(entry.source)) return;
  // A read-only file moves like any other: its copy is safe by now.
  uint32_t failure = env.LastError();
  if (failure == kErrorAccessDenied) {
    if (env.MakeWritable(entry.source) && env.RemoveFile(entry.source)) return;
    failure = env.LastError();
  }
  std::string error, text;
  GetSystemErrorText(env, error, failure);
  AppendTableMessage(env, text, kMsgSourceNotDeleted, entry.source.c_str(),
                     entry.backupName.c_str(), error.c_str());
  env.ShowMessage(text, kMbOk);
}
