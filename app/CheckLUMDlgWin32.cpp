#include "app/CheckLUMDlgWin32.h"

#include <string>
#include <system_error>

#include "app/resource.h"
#include "messages/StringTable.h"

CCheckLUMDlgWindow::CCheckLUMDlgWindow(HINSTANCE instance, EnvWin32& env, CCheckLUMDlg& dialog)
    : instance_(instance),
      env_(env),
      dialog_(dialog),
      icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

CCheckLUMDlgWindow::~CCheckLUMDlgWindow() {
  if (work_.joinable()) work_.join();
}

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
  return self->OnMessage(message, wParam, lParam);
}

// A handled message's result, for the messages whose result a dialog
// procedure hands back through DWLP_MSGRESULT.
INT_PTR CCheckLUMDlgWindow::Result(LONG_PTR result) {
  SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CCheckLUMDlgWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (env_.HandleWindowMessage(message, lParam)) return Result(1);
  switch (message) {
    case kWorkStepMessage:
      OnWorkStep();
      return Result(0);
    case kWorkDoneMessage:
      OnWorkDone(wParam != 0);
      return Result(0);
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_QUERYENDSESSION:
      // Logging off in the middle of a run would end it there. Since
      // Windows Vista the user may force it anyway: then WM_ENDSESSION.
      return Result(working_ ? FALSE : TRUE);
    case WM_ENDSESSION:
      // The process ends when this returns. The run's files are safe at
      // every instant; the log says where it was cut.
      if (wParam != 0 && working_) {
        std::string line;
        env_.LoadTableString(kLogCutShort, &line);
        dialog_.log.CutShort(line);
      }
      return Result(0);
    case WM_COMMAND:
      // The close box and Escape (IDCANCEL) and Enter (IDOK) end the dialog
      // with their own code, as in any dialog, but not while the work runs:
      // it ends the dialog itself.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        if (!working_) EndDialog(window_, LOWORD(wParam));
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
  if (working_ || work_.joinable()) return;  // the work step runs once
  working_ = true;
  EnableMenuItem(GetSystemMenu(window_, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
  // Windows shows the user why the session should not end now.
  std::string reason;
  env_.LoadTableString(kMsgShutdownBlocked, &reason);
  std::wstring wide(reason.size(), L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, reason.data(),
                                                      static_cast<int>(reason.size()), wide.data(),
                                                      static_cast<int>(wide.size()))));
  ShutdownBlockReasonCreate(window_, wide.c_str());
  try {
    work_ = std::thread([this] {
      bool ok = dialog_.RunWorkStep();
      // The end must arrive: with the message queue full, it is sent.
      if (!PostMessageW(window_, kWorkDoneMessage, ok, 0)) {
        SendMessageW(window_, kWorkDoneMessage, ok, 0);
      }
    });
  } catch (const std::system_error&) {
    // No thread to be had: the work runs here, as it always could.
    OnWorkDone(dialog_.RunWorkStep());
  }
}

// The thread may still be on its way out; it is joined when the window goes.
void CCheckLUMDlgWindow::OnWorkDone(bool ok) {
  working_ = false;
  ShutdownBlockReasonDestroy(window_);
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
