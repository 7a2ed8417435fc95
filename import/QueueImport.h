// The queue phase: every queue of the main profile's [Queues] list.
#pragma once

#include "import/ImportRun.h"

class CIni;

// Reads the queue list, moves the main profile to backup as lum.ini, then
// imports queue by queue.
void ImportQueues(ImportRun& run, const CIni& mainProfile, RegKey productKey);
