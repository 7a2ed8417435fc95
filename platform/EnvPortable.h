// EnvPortable: one emulated Windows machine inside a host folder, the image.
//
//   IMAGE/C/...     drive C: (one folder per drive letter, in capitals)
//   IMAGE/HKLM.reg  HKEY_LOCAL_MACHINE, read at start and saved at the end
//
// Windows paths are resolved inside the image without regard to letter case;
// nothing outside the image can be read or written. The progress view is the
// console.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>

#include "platform/Env.h"

struct PortableOptions {
  std::filesystem::path image;                         // the image folder
  std::string windowsDirectory = "C:\\WINDOWS";        // GetWindowsDirectoryA
  std::string programPath = "C:\\Setup\\CheckLUM.exe";  // GetModuleFileNameA
  std::ostream* progress = nullptr;  // status/detail lines; null: no output
  std::ostream* messages = nullptr;  // message-box texts; null: no output
};

class EnvPortable : public Env {
 public:
  explicit EnvPortable(PortableOptions options);
  ~EnvPortable() override;

  // Reads IMAGE/HKLM.reg when present (else starts with an empty registry).
  bool LoadRegistry(std::string* error);
  // Writes IMAGE/HKLM.reg when anything changed.
  bool SaveRegistry(std::string* error);
  // The host path a Windows path resolves to (for tests and tools); empty
  // when it lies outside the image (UNC and device paths).
  std::filesystem::path HostPath(const std::string& windowsPath) const;
};
