// CheckLUM.exe: the Windows program. It takes nothing from its command line;
// everything happens in the progress dialog, and the program ends when the
// dialog closes, with an exit status that tells the setup how the run ended
// (0 OK, 1 declined, 2 not started, 3 not everything carried over).
#include <windows.h>

#include "app/CheckLUMAppWin32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CCheckLUMApp app(instance);
  return app.InitInstance();
}
