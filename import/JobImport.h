// The waiting jobs of one queue: each control profile cf*.ini in the queue
// directory enters the queue's job list and the key Jobs\<ControlFileName>,
// its data files are copied into the spool directory, and the control
// profile moves to the backup directory as <queue>-<Seqno>.
#pragma once

#include <string>

#include "import/ImportRun.h"

void ImportJobs(ImportRun& run, const std::string& queueName, const std::string& queueDirectory);
