// RegistryUndo: the way back for the registry, restore.reg.
//
// The run works through this Env. Before a registry change goes on to the
// Env below, the entry that undoes it is appended to restore.reg in the
// backup directory and made durable, so that the file undoes the run at
// every instant, even when the run stops between two changes:
//   - a key the run creates gets "[-key]" (its topmost new key only: every
//     key and value below it is the run's own and goes with it);
//   - a value set in a key that was there before gets "name"=- when it is
//     new, or its old type and bytes when it is replaced, once per value.
// Imported with `reg import` or `regedit /s`, the file gives back the
// registry of before the run. An earlier run's restore.reg is first kept as
// restore.reg.N, as restore.bat is; the file is made when the run first
// changes the registry, or when the import opens it (see Open).
//
// A change whose old state cannot be read, or whose entry cannot be made
// durable, does not happen: the call fails with the error that stood in its
// way, and the first such failure is shown to the user.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "import/KeyPaths.h"
#include "platform/EnvWrapper.h"

class RegistryUndo : public EnvWrapper {
 public:
  explicit RegistryUndo(Env& target);
  ~RegistryUndo() override;

  // Where restore.reg goes; the directory is made with the file.
  void SetBackupDirectory(const std::string& directory);
  // Makes restore.reg now, if this run has not yet; false (the user told
  // why) when it cannot be made, and then no change is made through this
  // Env. The import opens it before it moves anything, so that a run
  // whose registry changes could not be undone stops before it starts.
  bool Open();
  // How many undo entries this run has written.
  int EntriesWritten() const { return entries_; }

  uint32_t OpenKey(RegKey parent, const char* subkey, RegKey* result) override;
  uint32_t CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) override;
  uint32_t SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                    uint32_t size) override;
  uint32_t CloseKey(RegKey key) override;

  // The REGEDIT4 text of one value line, "name"=data, CRLF included.
  static std::string ValueLine(const std::string& name, uint32_t type, const std::string& data);

 private:
  // True when `key` or a key above it was created by this run.
  bool CreatedByRun(const std::string& fullName) const;
  // Makes restore.reg unless it is open: 0 or the error code.
  uint32_t OpenFile();
  // Appends `entry` to restore.reg and makes it durable; the error code
  // that stood in the way, or 0.
  uint32_t Record(const std::string& entry);
  // Shows the first failure to the user; the code is the call's result.
  uint32_t Fail(uint32_t error);
  // The same, and no entry is written any more.
  uint32_t Broken(uint32_t error);

  std::string backupDirectory_;
  std::unique_ptr<WritableFile> file_;
  KeyPaths keys_;
  std::set<std::string, FileNameOrder> createdKeys_;  // full names
  std::set<std::string, FileNameOrder> savedValues_;  // full key name + '\n' + value name
  int entries_ = 0;
  bool reported_ = false;
  bool broken_ = false;
};
