// The registry view the program works in, for the Windows tests' own calls
// to the registry: every key CheckLUM.exe opens is in the 32-bit view, so the
// tests place and look up keys there as well (a 32-bit test program is
// redirected there anyway), and `reg` imports into it with /reg:32.
#pragma once

#include <windows.h>

#include <string>

constexpr REGSAM kMachineView = KEY_WOW64_32KEY;

// Deletes HKEY_LOCAL_MACHINE\SOFTWARE\`name` and everything below it, in
// that view (RegDeleteTree takes no view of its own).
inline void DeleteSoftwareKey(const std::wstring& name) {
  HKEY software = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | kMachineView, &software) !=
      ERROR_SUCCESS) {
    return;
  }
  RegDeleteTreeW(software, name.c_str());
  RegCloseKey(software);
}
