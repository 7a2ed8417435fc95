// CCheckLUMApp: the Windows program's start-up. There is no main window
// besides the progress dialog and no message loop besides the dialog's.
#pragma once

#include <windows.h>

class CCheckLUMApp {
 public:
  explicit CCheckLUMApp(HINSTANCE instance) : instance_(instance) {}

  // Runs the progress dialog modally, or, where no one can see it (a
  // window station that is not visible, as deployment tools run setups),
  // the work step alone, with every message kept in the log instead of
  // shown. Returns the program's exit status: how the run ended
  // (RunOutcome), 2 when another instance runs.
  int InitInstance();

 private:
  HINSTANCE instance_;
};
