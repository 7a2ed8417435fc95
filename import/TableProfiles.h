// The last phase: access rules, translation tables, styles, protocols and
// EBCDIC tables from the old installation directory.
#pragma once

#include <string>

class CCheckLUMDlg;

void ImportTableProfiles(CCheckLUMDlg& dlg, const std::string& oldInstallationDirectory);
