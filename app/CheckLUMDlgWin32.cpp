#include "app/CheckLUMDlgWin32.h"

#include "app/resource.h"

CCheckLUMDlgWindow::CCheckLUMDlgWindow(HINSTANCE instance, EnvWin32& env, CCheckLUMDlg& dialog)
    : instance_(instance),
      env_(env),
      dialog_(dialog),
      icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

INT_PTR CCheckLUMDlgWindow::DoModal() {
  return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_CHECKLUM_DIALOG), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CCheckLUMDlgWindow::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CCheckLUMDlgWindow*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->window_ = window;
    self->OnInitDialog();
    return TRUE;  // the system places the focus
  }
  auto* self = reinterpret_cast<CCheckLUMDlgWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  return self->OnMessage(message, wParam);
}

INT_PTR CCheckLUMDlgWindow::OnMessage(UINT message, WPARAM wParam) {
  switch (message) {
    case kWorkStepMessage:
      OnWorkStep();
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_COMMAND:
      // The close box and Escape (IDCANCEL) and Enter (IDOK) end the dialog
      // with their own code, as in any dialog.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(window_, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void CCheckLUMDlgWindow::OnInitDialog() {
  env_.SetProgressWindow(window_, IDC_STATUS_LINE, IDC_DETAIL_LINE);
  dialog_.UpdateData();  // both lines start empty
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  // The work starts from the modal loop, once the dialog has been shown.
  PostMessageW(window_, kWorkStepMessage, 0, 0);
}

void CCheckLUMDlgWindow::OnWorkStep() {
  bool ok = dialog_.RunWorkStep();
  EndDialog(window_, ok ? IDOK : IDCANCEL);
}

bool CCheckLUMDlgWindow::OnPaint() {
  if (!IsIconic(window_)) return false;  // the dialog's own painting
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(window_, &client);
  int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(window_, &paint);
  return true;
}
