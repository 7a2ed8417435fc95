// Hands the old release's uninstall entry over to the new uninstaller.
#pragma once

#include "platform/Env.h"

// Returns 1 when the old entry now names dellum.exe, 0 otherwise.
int HandOverUninstallEntry(Env& env);
