// The queue phase: every queue of the main profile's [Queues] list becomes
// the key Queues\<queue name> with its settings and font, its queue.ini moves
// to the backup directory, and its waiting jobs follow.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "import/ImportRun.h"
#include "profile/Ini.h"

// The queues of the main profile: queue name to queue directory (every
// listed queue, an empty directory where the profile names none), and to the
// non-empty "cfdir" values.
struct QueueList {
  std::map<std::string, std::string> directories;
  std::map<std::string, std::string> cfdirs;
};
QueueList ReadQueueList(const CIni& mainProfile);

// The queue's font as a LOGFONTA record of 60 bytes, from [Font] of its
// queue.ini. A face name of 32 characters or more keeps its first 31, so the
// field always ends with a zero.
std::array<uint8_t, 60> FontRecord(const CIni& queueProfile);

// Reads the queue list, moves the main profile to backup as lum.ini, then
// imports queue by queue, each with its jobs. A queue whose directory or
// queue.ini is missing is reported and skipped.
void ImportQueues(ImportRun& run, const CIni& mainProfile);
