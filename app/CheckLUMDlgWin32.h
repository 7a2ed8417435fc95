// The window side of the progress dialog: binds a CCheckLUMDlg to dialog
// template 102, starts its work step once the dialog is up, and paints the
// icon while the dialog is minimised.
#pragma once

#include <windows.h>

#include "app/CheckLUMDlg.h"
#include "platform/win32/EnvWin32.h"

class CCheckLUMDlgWindow {
 public:
  // The private message that starts the work step.
  static constexpr UINT kWorkStepMessage = WM_APP + 100;

  // Loads icon 128. `env` must be the Env that `dialog` works with.
  CCheckLUMDlgWindow(HINSTANCE instance, EnvWin32& env, CCheckLUMDlg& dialog);

  // Runs the dialog modally (no parent) until the work step has ended it;
  // returns IDOK or IDCANCEL (-1 when the dialog could not be created).
  INT_PTR DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam);
  void OnInitDialog();
  void OnWorkStep();
  bool OnPaint();

  HINSTANCE instance_;
  EnvWin32& env_;
  CCheckLUMDlg& dialog_;
  HICON icon_;
  HWND window_ = nullptr;
};
