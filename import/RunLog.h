// RunLog: the record of a run, CheckLUM.log in the backup directory.
//
// The message boxes are answered and the dialog closes by itself, so this
// file is the one record of what a run did. The run works through this Env
// (below restore.reg's wrapper, so the undo file's own messages and files
// are recorded too), and each change it passes on becomes one line: keys
// created, values written with their type and data, files copied and
// deleted (a move is the copy into the backup directory and the delete),
// folders made, each file the run works on (the detail line), every message
// shown to the user, each failed change with its reason, and at the end the
// result. An earlier run's log is kept as CheckLUM.log.N. The lines are
// written before each file is copied, so that a disk that fills up during
// the run leaves them in the log.
//
// An observer may watch the same facts as events, for a report in another
// form or to print them as they come.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "import/KeyPaths.h"
#include "platform/EnvWrapper.h"

struct RunEvent {
  const char* kind;     // "key", "value", "copy", "delete", "folder", "file",
                        // "message", "failed", "result"
  std::string subject;  // the key, value, file or folder; the message; the result
  std::string object;   // a copy's target; a value's data; a failure's reason
  std::string line;     // the event as the log writes it
};

class RunLog : public EnvWrapper {
 public:
  explicit RunLog(Env& target);
  ~RunLog() override;

  // Where CheckLUM.log goes; lines before it is known wait.
  void SetBackupDirectory(const std::string& directory);
  void SetObserver(std::function<void(const RunEvent&)> observer) {
    observer_ = std::move(observer);
  }
  // Records a fact of the run that no operation shows: table string `id`.
  void Note(uint32_t id) { Add("note", id, ""); }
  // Writes the result line and closes the log.
  void Finish(const std::string& result);
  // The run is cut short (the session ends, and the process with it): the
  // lines so far and `line` are written, and the log is closed. Any
  // thread may call it; events after it are not recorded.
  void CutShort(const std::string& line);
  // Messages are recorded as kept in the log, not shown: no one sees them.
  void SetMessagesUnseen(bool unseen) { messagesUnseen_ = unseen; }

  // What the run did, so far: changes made to the registry and to files
  // (keys, values, copies, deletes, renames), and messages shown.
  int Changes() const { return changes_; }
  int Messages() const { return messages_; }
  // False when a line could not be written: the log lacks what came after.
  bool Complete() const { return !unusable_; }

  uint32_t OpenKey(RegKey parent, const char* subkey, RegKey* result) override;
  uint32_t CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) override;
  uint32_t SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                    uint32_t size) override;
  uint32_t CloseKey(RegKey key) override;
  bool CreateDir(const std::string& path) override;
  bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) override;
  bool RemoveFile(const std::string& path) override;
  bool MakeWritable(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  void ShowProgress(const std::string& status, const std::string& detail) override;
  void ShowMessage(const std::string& text, uint32_t type) override;

  // A value's data as the log shows it: strings quoted, numbers in decimal,
  // other bytes in hex (long data cut, with its size).
  static std::string DataText(uint32_t type, const std::string& data);

 private:
  // One event: formatted from table string `id` with `subject` and `object`.
  void Add(const char* kind, uint32_t id, const std::string& subject,
           const std::string& object = "");
  void Failed(const std::string& what, uint32_t error);
  bool OpenFile();
  // Writes the lines not yet written, as far as the disk takes them.
  void WritePending();

  KeyPaths keys_;
  std::string backupDirectory_;
  std::string pending_;  // lines not yet written
  std::unique_ptr<WritableFile> file_;
  bool unusable_ = false;  // the file cannot be made: lines go to the observer only
  std::string detail_;     // the last detail line recorded
  std::function<void(const RunEvent&)> observer_;
  bool messagesUnseen_ = false;
  bool closed_ = false;  // cut short: nothing more is recorded
  int changes_ = 0;
  int messages_ = 0;
  std::mutex mutex_;  // the work and a session's end may both write
};
