// EnvWin32: the Env of the Windows build, a thin layer over the Win32 API.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Env.h"

// `ansi` (the ANSI code page) in `codePage`, as ToOemText converts it to the
// OEM code page: false when that code page lacks one of its characters.
bool AnsiToCodePage(std::string_view ansi, UINT codePage, std::string* out);

class EnvWin32 : public Env {
 public:
  // Which registry view the keys are opened in. The program works in the
  // 32-bit view: the old release, a 32-bit program, wrote its uninstall entry
  // there, and the new release reads the product key there. On 64-bit
  // Windows a 32-bit process is redirected to that view anyway
  // (SOFTWARE\WOW6432Node); the flag keeps it so for a 64-bit build too.
  // kProcessView (no flag) is for tests of the registry's own rules.
  enum RegistryView { k32BitView, kProcessView };
  explicit EnvWin32(RegistryView view = k32BitView)
      : keyAccess_(KEY_ALL_ACCESS | (view == k32BitView ? KEY_WOW64_32KEY : 0)) {}

  // The messages by which the progress view and message boxes reach the
  // progress window's thread, whichever thread does the work: the window
  // hands each to HandleWindowMessage.
  static constexpr UINT kProgressChangedMessage = WM_APP + 101;
  static constexpr UINT kShowMessageMessage = WM_APP + 102;

  // The window whose static controls `statusControl` and `detailControl`
  // show the progress lines, and which owns message boxes; may stay null (no
  // progress shown). Set it before the work starts.
  void SetProgressWindow(HWND window, int statusControl, int detailControl) {
    window_ = window;
    statusControl_ = statusControl;
    detailControl_ = detailControl;
  }
  // On the progress window's thread: shows the newest progress lines or a
  // message box that the work asked for. False for any other message.
  bool HandleWindowMessage(UINT message, LPARAM lParam);
  // The caption of every message box.
  void SetMessageCaption(std::string caption) { caption_ = std::move(caption); }
  // Whether the process's window station is one a user sees: deployment
  // tools run setups as SYSTEM in one that nobody sees.
  static bool WindowStationVisible();
  // No message box is shown: no one could answer it.
  void SetUnattended(bool unattended) { unattended_ = unattended; }

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
  bool MakeWritable(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  std::unique_ptr<ReadableFile> OpenReadable(const std::string& path) override;
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
  void ShowMessageBox(const std::string& text, uint32_t type);

  bool unattended_ = false;

  REGSAM keyAccess_;
  HWND window_ = nullptr;
  int statusControl_ = 0;
  int detailControl_ = 0;
  std::string caption_;
  // The newest progress lines, taken by the window's thread. Only one
  // kProgressChangedMessage is on its way at a time, so a fast run does not
  // flood the window with lines nobody could read.
  std::mutex progressLock_;
  std::string status_, detail_;
  bool progressPosted_ = false;
};
