#include "app/CheckLUMAppWin32.h"

#include <commctrl.h>

#include <string>

#include "app/CheckLUMDlg.h"
#include "app/CheckLUMDlgWin32.h"
#include "app/SingleInstanceWin32.h"
#include "messages/StringTable.h"
#include "platform/win32/EnvWin32.h"

int CCheckLUMApp::InitInstance() {
  InitCommonControls();  // the three-dimensional control look
  EnvWin32 env;
  std::string caption;
  env.LoadTableString(kMsgProgramName, &caption);
  env.SetMessageCaption(caption);
  const bool unattended = !EnvWin32::WindowStationVisible();
  env.SetUnattended(unattended);
  SingleInstance instance;
  if (!instance.Acquire()) {
    std::string text;
    env.LoadTableString(kMsgAlreadyRunning, &text);
    env.ShowMessage(text, kMbOk);
    return static_cast<int>(RunOutcome::kNotStarted);
  }
  CCheckLUMDlg dialog(env);
  if (unattended) {
    dialog.log.SetMessagesUnseen(true);
    dialog.RunWorkStep();
  } else {
    CCheckLUMDlgWindow window(instance_, env, dialog);
    // Without a desktop to show the dialog on, the work is still done: the
    // setup that runs this program counts on it.
    if (window.DoModal() == -1) dialog.RunWorkStep();
  }
  // Leaving this scope destroys the dialog, which closes a restore script
  // the import may have left open.
  return static_cast<int>(dialog.Outcome());
}
