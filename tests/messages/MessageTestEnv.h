// An Env for message tests: the last error, the system's texts and the
// string table are scripted per test; it counts the text look-ups. Every other
// operation fails.
#pragma once

#include <map>
#include <string>

#include "messages/StringTable.h"
#include "platform/Env.h"
#include "platform/WinError.h"

class MessageTestEnv : public Env {
 public:
  uint32_t lastError = 0;
  std::map<uint32_t, std::string> systemTexts;  // code -> text, line end included
  std::map<uint32_t, std::string> tableTexts;   // overrides the program's table
  // The last error that loading a table string leaves behind, as a real
  // resource look-up may; 0 leaves it alone.
  uint32_t errorAfterTableLoad = 0;
  int systemMessageCalls = 0;

  uint32_t LastError() override { return lastError; }
  void SetLastErrorCode(uint32_t code) override { lastError = code; }
  bool SystemMessage(uint32_t code, std::string* text) override {
    ++systemMessageCalls;
    auto found = systemTexts.find(code);
    if (found == systemTexts.end()) {
      lastError = kErrorMrMidNotFound;
      return false;
    }
    *text = found->second;
    return true;
  }
  bool LoadTableString(uint32_t id, std::string* text) override {
    if (errorAfterTableLoad != 0) lastError = errorAfterTableLoad;
    auto found = tableTexts.find(id);
    if (found == tableTexts.end()) return FindTableString(id, text);
    *text = found->second;
    return true;
  }

  uint32_t OpenKey(RegKey, const char*, RegKey*) override { return kErrorAccessDenied; }
  uint32_t CreateKey(RegKey, const char*, RegKey*, bool*) override { return kErrorAccessDenied; }
  uint32_t QueryKeyInfo(RegKey, uint32_t*, uint32_t*) override { return kErrorInvalidHandle; }
  uint32_t EnumKey(RegKey, uint32_t, char*, uint32_t*) override { return kErrorInvalidHandle; }
  uint32_t QueryValue(RegKey, const char*, uint32_t*, uint8_t*, uint32_t*) override {
    return kErrorInvalidHandle;
  }
  uint32_t SetValue(RegKey, const char*, uint32_t, const uint8_t*, uint32_t) override {
    return kErrorInvalidHandle;
  }
  uint32_t CloseKey(RegKey) override { return kErrorInvalidHandle; }
  uint32_t ProfileReadString(const char*, const char*, const char*, char* buffer, uint32_t size,
                             const std::string&) override {
    if (size > 0) buffer[0] = '\0';
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
  bool CopyFileTo(const std::string&, const std::string&, bool) override { return false; }
  bool RemoveFile(const std::string&) override { return false; }
  std::unique_ptr<FileSearch> FindFirst(const std::string&, FoundFile*) override { return nullptr; }
  std::unique_ptr<WritableFile> CreateWritable(const std::string&) override { return nullptr; }
  void ShowProgress(const std::string&, const std::string&) override {}
  void ShowMessage(const std::string&, uint32_t) override {}
};
