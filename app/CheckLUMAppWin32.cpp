#include "app/CheckLUMAppWin32.h"

#include <commctrl.h>

#include "app/CheckLUMDlg.h"
#include "app/CheckLUMDlgWin32.h"
#include "platform/win32/EnvWin32.h"

bool CCheckLUMApp::InitInstance() {
  InitCommonControls();  // the three-dimensional control look
  EnvWin32 env;
  CCheckLUMDlg dialog(env);
  CCheckLUMDlgWindow window(instance_, env, dialog);
  window.DoModal();
  // Leaving this scope destroys the dialog, which closes a restore script
  // the import may have left open.
  return false;
}
