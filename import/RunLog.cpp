#include "import/RunLog.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "import/EarlierFiles.h"
#include "messages/Messages.h"
#include "platform/WinError.h"

namespace {

constexpr size_t kWriteAt = 64 * 1024;  // lines are written in pieces of about this size
constexpr size_t kDataShown = 64;       // bytes of binary data the log shows

const char* TypeName(uint32_t type) {
  static const char* const kNames[] = {"REG_NONE",   "REG_SZ",       "REG_EXPAND_SZ",
                                       "REG_BINARY", "REG_DWORD",    "REG_DWORD_BIG_ENDIAN",
                                       "REG_LINK",   "REG_MULTI_SZ", "REG_RESOURCE_LIST"};
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : nullptr;
}

// One line per event: the line breaks of a message become " | ".
std::string OneLine(const std::string& text) {
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    line += text[i] == '\n' ? std::string(" | ") : std::string(1, text[i]);
  }
  return line;
}

}  // namespace

RunLog::RunLog(Env& target) : EnvWrapper(target) {}

RunLog::~RunLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  WritePending();
  if (file_) file_->Close();
}

void RunLog::SetBackupDirectory(const std::string& directory) {
  backupDirectory_ = directory;
}

std::string RunLog::DataText(uint32_t type, const std::string& data) {
  const char* name = TypeName(type);
  char prefix[32];
  if (name == nullptr) std::snprintf(prefix, sizeof prefix, "type %u", static_cast<unsigned>(type));
  std::string text = name ? name : prefix;
  size_t nul = data.find('\0');
  if ((type == kRegSz || type == 2) && (nul == std::string::npos || nul + 1 == data.size())) {
    return text + " \"" + OneLine(data.substr(0, data.find('\0'))) + "\"";
  }
  if (type == kRegDword && data.size() == 4) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(data[i]);
    return text + " " + std::to_string(value);
  }
  text += " " + std::to_string(data.size()) + " bytes";
  if (!data.empty()) text += ":";
  for (size_t i = 0; i < data.size() && i < kDataShown; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, " %02x", static_cast<unsigned char>(data[i]));
    text += byte;
  }
  return data.size() > kDataShown ? text + " ..." : text;
}

void RunLog::Add(const char* kind, uint32_t id, const std::string& subject,
                 const std::string& object) {
  // Logging must not change what the run reads from GetLastError.
  uint32_t lastError = target().LastError();
  std::string line;
  AppendTableMessage(target(), line, id, subject.c_str(), object.c_str());
  line = OneLine(line);
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  static const std::string kChanges[] = {"key", "value", "copy", "delete", "rename"};
  if (std::find(std::begin(kChanges), std::end(kChanges), kind) != std::end(kChanges)) {
    ++changes_;
  }
  if (observer_) observer_({kind, subject, object, line});
  if (!unusable_) {
    pending_ += line + "\r\n";
    if (pending_.size() >= kWriteAt) WritePending();
  }
  target().SetLastErrorCode(lastError);
}

void RunLog::WritePending() {
  if (pending_.empty() || !OpenFile()) return;
  if (!file_->Append(pending_)) {
    unusable_ = true;
    file_->Close();
  }
  pending_.clear();
}

void RunLog::CutShort(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  if (!unusable_) pending_ += OneLine(line) + "\r\n";
  WritePending();
  if (file_) file_->Close();
  closed_ = true;
}

bool RunLog::OpenFile() {
  if (file_) return true;
  if (unusable_ || backupDirectory_.empty()) return false;
  std::string path = backupDirectory_ + "\\CheckLUM.log";
  target().CreateDir(backupDirectory_);
  if (KeepEarlierFile(target(), path)) file_ = target().CreateWritable(path);
  if (!file_) {
    unusable_ = true;
    pending_.clear();
  }
  return file_ != nullptr;
}

void RunLog::Failed(const std::string& what, uint32_t error) {
  std::string reason;
  GetSystemErrorText(target(), reason, error);
  Add("failed", kLogNotDone, what, reason);
  // Looking up the reason may have moved the last error: the caller reads
  // the failure's own.
  target().SetLastErrorCode(error);
}

void RunLog::Finish(const std::string& result) {
  Add("result", kLogResult, result);
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  WritePending();
  if (file_ && !unusable_ && !file_->Close()) unusable_ = true;
  file_.reset();
  closed_ = true;  // anything after the result is not part of the run
}

uint32_t RunLog::OpenKey(RegKey parent, const char* subkey, RegKey* result) {
  uint32_t rc = EnvWrapper::OpenKey(parent, subkey, result);
  if (rc == 0) keys_.Opened(parent, subkey, *result);
  return rc;
}

uint32_t RunLog::CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) {
  bool made = false;
  uint32_t rc = EnvWrapper::CreateKey(parent, subkey, result, &made);
  KeyPath path;
  bool known = keys_.Find(parent, &path);
  std::string name = known ? path.Below(subkey).FullName() : std::string(subkey ? subkey : "");
  if (rc != 0) {
    Failed(name, rc);
    return rc;
  }
  keys_.Opened(parent, subkey, *result);
  if (made && subkey != nullptr && *subkey != '\0') Add("key", kLogKeyCreated, name);
  if (created) *created = made;
  return rc;
}

uint32_t RunLog::SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                          uint32_t size) {
  uint32_t rc = EnvWrapper::SetValue(key, name, type, data, size);
  KeyPath path;
  std::string value = keys_.Find(key, &path) ? path.FullName() : std::string("?");
  value += name && *name ? "\\\"" + std::string(name) + "\"" : std::string("\\@");
  if (rc != 0) {
    Failed(value, rc);
  } else {
    std::string bytes(reinterpret_cast<const char*>(data), data ? size : 0);
    Add("value", kLogValueWritten, value, DataText(type, bytes));
  }
  return rc;
}

uint32_t RunLog::CloseKey(RegKey key) {
  keys_.Closed(key);
  return EnvWrapper::CloseKey(key);
}

bool RunLog::CreateDir(const std::string& path) {
  if (EnvWrapper::CreateDir(path)) {
    Add("folder", kLogFolderMade, path);
    return true;
  }
  uint32_t error = target().LastError();
  if (error != kErrorAlreadyExists) Failed(path, error);
  return false;
}

bool RunLog::CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) {
  {
    // What happened so far is on the disk before a copy can fill it.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!closed_) WritePending();
  }
  if (EnvWrapper::CopyFileTo(from, to, failIfExists)) {
    Add("copy", kLogFileCopied, from, to);
    return true;
  }
  Failed(from + " -> " + to, target().LastError());
  return false;
}

bool RunLog::RemoveFile(const std::string& path) {
  if (EnvWrapper::RemoveFile(path)) {
    Add("delete", kLogFileDeleted, path);
    return true;
  }
  Failed(path, target().LastError());
  return false;
}

bool RunLog::MakeWritable(const std::string& path) {
  if (EnvWrapper::MakeWritable(path)) {
    Add("writable", kLogMadeWritable, path);
    return true;
  }
  Failed(path, target().LastError());
  return false;
}

bool RunLog::RenameFile(const std::string& from, const std::string& to) {
  if (EnvWrapper::RenameFile(from, to)) {
    Add("rename", kLogFileRenamed, from, to);
    return true;
  }
  Failed(from + " -> " + to, target().LastError());
  return false;
}

void RunLog::ShowProgress(const std::string& status, const std::string& detail) {
  if (!detail.empty() && detail != detail_) Add("file", kLogWorkingOn, detail);
  detail_ = detail;
  EnvWrapper::ShowProgress(status, detail);
}

void RunLog::ShowMessage(const std::string& text, uint32_t type) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++messages_;
  }
  Add("message", messagesUnseen_ ? kLogMessageLogged : kLogMessageShown, text);
  EnvWrapper::ShowMessage(text, type);
}
