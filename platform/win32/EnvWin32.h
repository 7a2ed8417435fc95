// EnvWin32: the Env of the Windows build, a thin layer over the Win32 API.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "platform/Env.h"

class EnvWin32 : public Env {
 public:
  // The window whose static controls `statusControl` and `detailControl`
  // show the progress lines, and which owns message boxes; may stay null (no
  // progress shown).
  void SetProgressWindow(HWND window, int statusControl, int detailControl) {
    window_ = window;
    statusControl_ = statusControl;
    detailControl_ = detailControl;
  }
  // The caption of every message box.
  void SetMessageCaption(std::string caption) { caption_ = std::move(caption); }

  uint32_t OpenKey(RegKey parent, const char* subkey, RegKey* result) override;
  uint32_t CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) override;
  uint32_t QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen) override;
  uint32_t EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) override;
  uint32_t QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                      uint32_t* size) override;
  uint32_t SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                    uint32_t size) override;
  uint32_t CloseKey(RegKey key) override;

  uint32_t ProfileReadString(const char* section, const char* key, const char* def, char* buffer,
                             uint32_t size, const std::string& path) override;
  uint32_t ProfileReadSection(const char* section, char* buffer, uint32_t size,
                              const std::string& path) override;
  uint32_t ProfileReadInt(const char* section, const char* key, int32_t def,
                          const std::string& path) override;
  bool ProfileWriteString(const char* section, const char* key, const char* value,
                          const std::string& path) override;

  bool WindowsDirectory(std::string* dir) override;
  bool ModuleFileName(std::string* path) override;
  bool ShortPathName(const std::string& longPath, std::string* shortPath) override;
  bool CreateDir(const std::string& path) override;
  bool FullPathName(const std::string& path, std::string* fullPath) override;
  int CompareFileNames(std::string_view a, std::string_view b) override;
  bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) override;
  bool RemoveFile(const std::string& path) override;
  bool FlushFiles(const std::vector<std::string>& paths) override;
  std::unique_ptr<FileSearch> FindFirst(const std::string& pattern, FoundFile* first) override;
  std::unique_ptr<WritableFile> CreateWritable(const std::string& path) override;
  uint32_t LastError() override;
  void SetLastErrorCode(uint32_t code) override;
  bool SystemMessage(uint32_t code, std::string* text) override;
  bool ToOemText(std::string_view ansi, std::string* oem) override;
  bool LoadTableString(uint32_t id, std::string* text) override;

  void ShowProgress(const std::string& status, const std::string& detail) override;
  void ShowMessage(const std::string& text, uint32_t type) override;

 private:
  HWND window_ = nullptr;
  int statusControl_ = 0;
  int detailControl_ = 0;
  std::string caption_;
};
