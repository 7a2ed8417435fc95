// The first two import phases: the main profile's general settings become
// values of the product key, and its current-jobs list the CurrentJobs key.
#pragma once

#include "platform/Env.h"

class CIni;

// [LogOptions], [Security], [Settings] and the WindowPos entries "Desktop
// size" and "Main", typed by the typed value rule; empty values are skipped.
void ImportGeneralSettings(Env& env, const CIni& mainProfile, RegKey productKey);

// One REG_DWORD per control profile listed in [CurrentJobs]: its
// ControlFileName, its position in the list. False when the CurrentJobs key
// cannot be opened or created (nothing is written then).
bool ImportCurrentJobs(Env& env, const CIni& mainProfile, RegKey productKey);
