// The queue phase: every queue of the main profile's [Queues] list.
#pragma once

#include "platform/Env.h"

class CCheckLUMDlg;
class CIni;

// Reads the queue list, moves the main profile to backup as lum.ini, then
// imports queue by queue.
void ImportQueues(CCheckLUMDlg& dlg, const CIni& mainProfile, RegKey productKey);
