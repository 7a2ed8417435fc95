// MoveGroup: the moves and copies that restore.bat does not yet name, and
// the one order in which they are committed.
//
// A disk keeps or loses each write not yet flushed on its own: the page
// holding restore.bat's new lines can reach it before the data of the
// copies those lines copy back, or after. So a group is committed strictly
// in this order, each step made durable before the next begins:
//   1. the copies (backups and spooled copies) are flushed;
//   2. their lines are appended to restore.bat, which is flushed;
//   3. only then are the moved files deleted.
// A power cut at any instant leaves each moved file in its place, or its
// copy and its line on disk. One flush of each kind serves a whole group.
#pragma once

#include <string>
#include <vector>

#include "platform/Env.h"

class MoveGroup {
 public:
  struct Entry {
    std::string copy;        // the copy its line copies back; empty when no file came
    std::string line;        // its restore line, as restore.bat holds it
    std::string source;      // the file that goes once the line is durable; empty for none
    std::string backupName;  // the copy's name in the backup directory, for messages
  };

  void Add(Entry entry) { entries_.push_back(std::move(entry)); }
  const std::vector<Entry>& Entries() const { return entries_; }
  bool Empty() const { return entries_.empty(); }

  // Commits the group through `script` (restore.bat at `scriptPath`); the
  // group is empty afterwards. False, the user told why, when a copy or a
  // line cannot be made durable: then no source is deleted, and the caller
  // must move nothing more, since the script may end in a torn line.
  bool Commit(Env& env, WritableFile& script, const std::string& scriptPath,
              const std::string& backupDirectory);

 private:
  void DeleteSource(Env& env, const Entry& entry);

  std::vector<Entry> entries_;
};
