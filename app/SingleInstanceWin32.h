// SingleInstance: one CheckLUM.exe at a time on a machine. Two runs at once
// would import into the same registry keys and write the same restore.bat.
#pragma once

#include <windows.h>

class SingleInstance {
 public:
  SingleInstance() = default;
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // False when another instance holds the machine-wide mutex.
  bool Acquire();

 private:
  HANDLE mutex_ = nullptr;
};
