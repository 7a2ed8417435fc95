// The settings import: decides whether an import may happen, prepares the
// spool and backup directories and restore.bat, finds the old main profile
// through the pointer profile in the Windows directory, and runs the import
// phases in order, moving every finished INI file into the backup directory.
#pragma once

#include <string>

#include "import/ImportRun.h"

// True when every phase has run; false when the import declined (the product
// key already holds queues, or cannot be opened) or stopped early.
bool ImportSettings(ImportRun& run);

// The backup directory beside the program: `setupDirectory` + "\Backup".
std::string BackupDirectory(const std::string& setupDirectory);
// The pointer profile lum.ini in the Windows directory.
std::string PointerProfilePath(const std::string& windowsDirectory);
// The old installation's directory (ending with a backslash, or empty) from
// the main profile's path and the name under which that file is stored.
std::string OldInstallationDirectory(const std::string& iniValue, const std::string& foundName);
