// checklum --restore: undoes the runs recorded in an image's backup
// directory. The restore chain (restore.bat, then restore.bat.N from the
// highest N down) is read as cmd runs it from the backup directory: each
// copy line, with its quoting and its doubled %, copies a file back. A line
// whose backup never came there (the old installation named a file that
// was missing) has nothing to restore, and a last line without its line
// end (its writing never completed) stands for no move at all. The registry
// undo chain (restore.reg, then restore.reg.N in the same order) is applied
// first, to the image's HKLM.reg or hive as `reg import` would apply it, all
// files in one change: when it cannot be, no file is copied back. Then the
// files are copied back and made durable. Backup and Spool stay, as they
// do after restore.bat.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/portable/EnvPortable.h"

struct RestoreOutcome {
  int scripts = 0;        // restore scripts run
  int copied = 0;         // files copied back, durably
  int failed = 0;         // copy lines that failed or were refused
  int absent = 0;         // lines whose backup never came: nothing to restore
  int registryFiles = 0;  // undo files applied (none when they could not be)
  bool registryRestored = true;
};

// The files of a chain in the order they are run: `name`, then `name`.N
// from the highest N down; only those present.
std::vector<std::string> RestoreChainNames(EnvPortable& env, const std::string& backupDirectory,
                                           const std::string& name);

// Runs both chains of `backupDirectory`, reading the scripts in the image's
// OEM code page (env.OemCodePage()); every line refused or failed and
// any registry file that cannot be applied is told on `messages`.
RestoreOutcome RestoreImage(EnvPortable& env, const std::string& backupDirectory,
                            std::ostream& messages);
