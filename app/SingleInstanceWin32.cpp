#include "app/SingleInstanceWin32.h"

SingleInstance::~SingleInstance() {
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

bool SingleInstance::Acquire() {
  if (mutex_ != nullptr) return true;
  // A named mutex lives as long as a handle to it is open; the name is
  // global so that runs in other sessions see it too.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\Tandrel.CheckLUM.Run");
  if (mutex == nullptr) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  mutex_ = mutex;
  return true;
}
