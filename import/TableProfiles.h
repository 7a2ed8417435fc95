// The last phase: access rules, translation tables, styles, protocols and
// EBCDIC tables from the old installation directory.
#pragma once

#include <string>

#include "import/ImportRun.h"

void ImportTableProfiles(ImportRun& run, const std::string& oldInstallationDirectory);
