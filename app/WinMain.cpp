// CheckLUM.exe: the Windows program. It takes nothing from its command line;
// everything happens in the progress dialog, and the program ends when the
// dialog closes.
#include <windows.h>

#include "app/CheckLUMAppWin32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CCheckLUMApp app(instance);
  app.InitInstance();
  return 0;
}
