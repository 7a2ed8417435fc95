// The last phase: the five table profiles beside the main profile (access
// rules, translation tables, styles, protocols and EBCDIC tables), each
// imported into its own subkeys and then moved to the backup directory.
#pragma once

#include <string>

#include "import/ImportRun.h"

// Looks for each table profile as `oldInstallationDirectory` immediately
// followed by its name; a missing one is passed over without a word.
void ImportTableProfiles(ImportRun& run, const std::string& oldInstallationDirectory);
