// An Env in which nothing is available: every registry, profile and file
// operation fails, the progress view shows nothing. Test Envs derive from it
// and provide just the services their tests use.
#pragma once

#include "platform/Env.h"
#include "platform/WinError.h"

class UnavailableEnv : public Env {
 public:
  uint32_t OpenKey(RegKey, const char*, RegKey* result) override { return Refuse(result); }
  uint32_t CreateKey(RegKey, const char*, RegKey* result, bool*) override { return Refuse(result); }
  uint32_t QueryKeyInfo(RegKey, uint32_t*, uint32_t*) override { return kErrorInvalidHandle; }
  uint32_t EnumKey(RegKey, uint32_t, char*, uint32_t*) override { return kErrorInvalidHandle; }
  uint32_t QueryValue(RegKey, const char*, uint32_t*, uint8_t*, uint32_t*) override {
    return kErrorInvalidHandle;
  }
  uint32_t SetValue(RegKey, const char*, uint32_t, const uint8_t*, uint32_t) override {
    return kErrorInvalidHandle;
  }
  uint32_t CloseKey(RegKey) override { return kErrorInvalidHandle; }

  // A profile that cannot be read reads like a missing one.
  uint32_t ProfileReadString(const char*, const char*, const char*, char* buffer, uint32_t size,
                             const std::string&) override {
    if (size > 0) buffer[0] = '\0';
    return 0;
  }
  uint32_t ProfileReadSection(const char*, char* buffer, uint32_t size,
                              const std::string&) override {
    if (size > 0) buffer[0] = '\0';
    if (size > 1) buffer[1] = '\0';
    return 0;
  }
  uint32_t ProfileReadInt(const char*, const char*, int32_t def, const std::string&) override {
    return static_cast<uint32_t>(def);
  }
  bool ProfileWriteString(const char*, const char*, const char*, const std::string&) override {
    return false;
  }

  bool WindowsDirectory(std::string*) override { return false; }
  bool ModuleFileName(std::string*) override { return false; }
  bool ShortPathName(const std::string&, std::string*) override { return false; }
  bool CreateDir(const std::string&) override { return false; }
  bool FullPathName(const std::string&, std::string*) override { return false; }
  int CompareFileNames(std::string_view a, std::string_view b) override { return a.compare(b); }
  bool CopyFileTo(const std::string&, const std::string&, bool) override { return false; }
  bool RemoveFile(const std::string&) override { return false; }
  bool MakeWritable(const std::string&) override { return false; }
  bool RenameFile(const std::string&, const std::string&) override { return false; }
  std::unique_ptr<ReadableFile> OpenReadable(const std::string&) override { return nullptr; }
  bool FlushFiles(const std::vector<std::string>&) override { return false; }
  std::unique_ptr<FileSearch> FindFirst(const std::string&, FoundFile*) override { return nullptr; }
  std::unique_ptr<WritableFile> CreateWritable(const std::string&) override { return nullptr; }
  uint32_t LastError() override { return kErrorInvalidFunction; }
  void SetLastErrorCode(uint32_t) override {}
  bool SystemMessage(uint32_t, std::string*) override { return false; }
  bool ToOemText(std::string_view, std::string*) override { return false; }
  bool LoadTableString(uint32_t, std::string*) override { return false; }
  void ShowProgress(const std::string&, const std::string&) override {}
  void ShowMessage(const std::string&, uint32_t) override {}

 private:
  // A failed open leaves no handle behind, as the registry's own does.
  static uint32_t Refuse(RegKey* result) {
    if (result) *result = 0;
    return kErrorAccessDenied;
  }
};
