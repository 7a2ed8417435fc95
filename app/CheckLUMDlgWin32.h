// The window side of the progress dialog: binds a CCheckLUMDlg to dialog
// template 102, starts its work step once the dialog is up, and paints the
// icon while the dialog is minimised.
//
// The work step runs on a thread of its own, so that the dialog goes on
// painting and answering the system through a long run (a window that stops
// taking messages for 5 s is offered to the user to be ended, which would
// end the run in the middle). The dialog stays modal, and cannot be closed
// before the work step has ended it.
#pragma once

#include <windows.h>

#include <thread>

#include "app/CheckLUMDlg.h"
#include "platform/win32/EnvWin32.h"

class CCheckLUMDlgWindow {
 public:
  // The private message that starts the work step, and the one by which the
  // work step's thread reports its end (wParam: true for OK).
  static constexpr UINT kWorkStepMessage = WM_APP + 100;
  static constexpr UINT kWorkDoneMessage = WM_APP + 103;

  // Loads icon 128. `env` must be the Env that `dialog` works with.
  CCheckLUMDlgWindow(HINSTANCE instance, EnvWin32& env, CCheckLUMDlg& dialog);

  ~CCheckLUMDlgWindow();

  // Runs the dialog modally (no parent) until the work step has ended it;
  // returns IDOK or IDCANCEL (-1 when the dialog could not be created).
  INT_PTR DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Result(LONG_PTR result);
  void OnInitDialog();
  void OnWorkStep();
  void OnWorkDone(bool ok);
  bool OnPaint();

  HINSTANCE instance_;
  EnvWin32& env_;
  CCheckLUMDlg& dialog_;
  HICON icon_;
  HWND window_ = nullptr;
  std::thread work_;
  bool working_ = false;
};
