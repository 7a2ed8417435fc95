// Starts a program as deployment tools start a setup: in a window station
// of its own, which no user sees, on a desktop of its own there. The
// program must end by itself: a message box it showed there would wait for
// ever. Prints what happened and exits with the program's exit status, or
// 124 when it did not end within the seconds given.
//   unattended_probe.exe PROGRAM SECONDS
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: unattended_probe PROGRAM SECONDS\n");
    return 2;
  }
  HWINSTA station = CreateWindowStationW(L"CheckLUMUnattended", 0, WINSTA_ALL_ACCESS, nullptr);
  HWINSTA own = GetProcessWindowStation();
  if (station == nullptr || !SetProcessWindowStation(station)) {
    std::printf("unattended: no window station of its own (error %lu)\n", GetLastError());
    return 2;
  }
  HDESK desktop = CreateDesktopW(L"Setup", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(own);
  if (desktop == nullptr) {
    std::printf("unattended: no desktop of its own (error %lu)\n", GetLastError());
    return 2;
  }
  std::wstring where = L"CheckLUMUnattended\\Setup";
  std::string command = std::string("\"") + argv[1] + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string desktopName(where.begin(), where.end());
  startup.lpDesktop = desktopName.data();
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::printf("unattended: %s does not start (error %lu)\n", argv[1], GetLastError());
    return 2;
  }
  DWORD code = 124;
  if (WaitForSingleObject(process.hProcess, 1000 * std::strtoul(argv[2], nullptr, 10)) !=
      WAIT_OBJECT_0) {
    std::printf("unattended: the program did not end by itself\n");
    TerminateProcess(process.hProcess, code);
  } else {
    GetExitCodeProcess(process.hProcess, &code);
    std::printf("unattended: the program ended with %lu\n", code);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}
