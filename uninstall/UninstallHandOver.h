// Hands the old release's entry in the list of installed programs over to
// the new uninstaller: the entry's command is kept under the product registry
// key as "UninstallString", and the entry then names the short path of
// dellum.exe in the setup directory.
#pragma once

#include "platform/Env.h"

// Where Windows keeps the list of installed programs, below HKEY_LOCAL_MACHINE.
constexpr const char* kUninstallKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// What the hand-over did.
enum class HandOver {
  kDone,            // the entry now names dellum.exe
  kNoEntry,         // no entry whose name begins with "LUM", or one with an empty command
  kDoneEarlier,     // the entry names dellum.exe (in any letter case) already
  kNoUninstaller,   // no dellum.exe beside the program: the entry keeps its command
  kRegistryFailed,  // a registry failure on the way
};

// Returns 1 when the old entry now names dellum.exe, 0 otherwise; `what`,
// when given, says which.
int HandOverUninstallEntry(Env& env, HandOver* what = nullptr);
