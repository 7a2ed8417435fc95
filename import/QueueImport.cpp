#include "import/QueueImport.h"

#include "profile/Ini.h"

void ImportQueues(ImportRun& run, const CIni& mainProfile, RegKey /*productKey*/) {
  // The queue list is the last thing read from the main profile; after it the
  // main profile has been imported and goes to backup.
  SectionMap queueList;
  mainProfile.ReadSection("Queues", queueList);
  run.restoreScript.MoveToBackup(mainProfile.GetPath(), "lum.ini");

  // Not built yet: the queues themselves (their profiles and waiting jobs)
  // stay where they are; nothing of them is written or moved.
}
