// A probe of the progress dialog, run beside CheckLUM.exe in the same Wine
// session by the end-to-end test: it waits for the dialog, then sends it
// WM_NULL every 100 ms with a timeout of one second, as Windows does to find
// a window that no longer answers, and after two seconds tries to close it
// (WM_CLOSE, then Cancel) and asks whether the session may end
// (WM_QUERYENDSESSION); after four seconds it tells the dialog the session
// ends anyway (WM_ENDSESSION), as a forced logoff does, though the process
// then goes on here. It reports on one line how many probes were answered
// and how many not while the dialog was shown, the slowest answer, how long
// the dialog was open and whether it held off the logoff, and exits 0 only
// when every probe was answered in time.
#include <windows.h>

#include <cstdio>

int main() {
  const wchar_t* caption = L"Check existing LUM installation";
  HWND dialog = nullptr;
  for (int i = 0; i < 600 && dialog == nullptr; ++i) {
    dialog = FindWindowW(nullptr, caption);
    if (dialog == nullptr) Sleep(100);
  }
  if (dialog == nullptr) {
    std::printf("probe: the dialog never appeared\n");
    return 2;
  }
  ULONGLONG opened = GetTickCount64();
  unsigned long answered = 0, unanswered = 0, slowest = 0;
  bool closeTried = false, endSent = false;
  DWORD_PTR mayEnd = 1;
  while (IsWindow(dialog)) {
    ULONGLONG sent = GetTickCount64();
    DWORD_PTR result = 0;
    LRESULT ok = SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result);
    unsigned long took = static_cast<unsigned long>(GetTickCount64() - sent);
    if (ok != 0 && took < 1000) {
      ++answered;
      if (took > slowest) slowest = took;
    } else {
      // A dialog on its way out answers no more: that is the run's end, not
      // a hang. EndDialog hides it first, and Wine's X11 driver then waits
      // up to 2 s for a window manager that Xvfb does not have.
      Sleep(500);
      if (IsWindow(dialog) && IsWindowVisible(dialog)) {
        ++unanswered;
        std::printf("probe: no answer after %lu ms at %lu ms\n", took,
                    static_cast<unsigned long>(GetTickCount64() - opened));
      }
    }
    if (!closeTried && GetTickCount64() - opened > 2000) {
      PostMessageW(dialog, WM_CLOSE, 0, 0);
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      SendMessageTimeoutW(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 1000,
                          &mayEnd);
      closeTried = true;
    }
    if (!endSent && GetTickCount64() - opened > 4000) {
      DWORD_PTR unused = 0;
      SendMessageTimeoutW(dialog, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 1000,
                          &unused);
      endSent = true;
    }
    Sleep(100);
  }
  std::printf("probe: %lu answered, %lu unanswered, slowest %lu ms, open %lu ms, logoff %s\n",
              answered, unanswered, slowest, static_cast<unsigned long>(GetTickCount64() - opened),
              mayEnd == 0 ? "held off" : "allowed");
  return unanswered == 0 && answered > 0 ? 0 : 1;
}
