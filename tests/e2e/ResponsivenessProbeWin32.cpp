// A probe of the progress dialog, run beside CheckLUM.exe in the same Wine
// session by the end-to-end test: it waits for the dialog, then sends it
// WM_NULL every 100 ms with a timeout of one second, as Windows does to find
// a window that no longer answers, and after two seconds tries to close it
// (WM_CLOSE, then Cancel). It reports on one line how many probes were
// answered and how many not while the dialog was shown, the slowest answer
// and how long the dialog was open, and exits 0 only when every probe was
// answered in time.
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
  bool closeTried = false;
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
      closeTried = true;
    }
    Sleep(100);
  }
  std::printf("probe: %lu answered, %lu unanswered, slowest %lu ms, open %lu ms\n", answered,
              unanswered, slowest, static_cast<unsigned long>(GetTickCount64() - opened));
  return unanswered == 0 && answered > 0 ? 0 : 1;
}
