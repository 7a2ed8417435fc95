// Hands the old release's entry in the list of installed programs over to
// the new uninstaller: the entry's command is kept under the product registry
// key as "UninstallString", and the entry then names the short path of
// dellum.exe in the setup directory.
#pragma once

#include "platform/Env.h"

// Where Windows keeps the list of installed programs, below HKEY_LOCAL_MACHINE.
constexpr const char* kUninstallKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Returns 1 when the old entry now names dellum.exe, 0 otherwise: no entry
// whose name begins with "LUM", an empty command, one that already names
// dellum.exe (in any letter case), no dellum.exe to name, or a registry
// failure on the way.
int HandOverUninstallEntry(Env& env);
