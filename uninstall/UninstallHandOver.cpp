#include "uninstall/UninstallHandOver.h"

// Not built yet: the hand-over leaves the uninstall entry untouched and says
// so with its result.
int HandOverUninstallEntry(Env&) {
  return 0;
}
