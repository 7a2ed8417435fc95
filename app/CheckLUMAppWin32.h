// CCheckLUMApp: the Windows program's start-up. There is no main window
// besides the progress dialog and no message loop besides the dialog's.
#pragma once

#include <windows.h>

class CCheckLUMApp {
 public:
  explicit CCheckLUMApp(HINSTANCE instance) : instance_(instance) {}

  // Runs the progress dialog modally and ignores how it ended. Returns
  // false: once the dialog has closed there is nothing left to run.
  bool InitInstance();

 private:
  HINSTANCE instance_;
};
