// An Env for profile tests: the profile operations run the portable profile
// service on files of a temporary host folder (a profile's path is taken
// relative to it), message boxes are recorded, the system's error texts and
// the string table are the program's own. Every other operation fails.
#pragma once

#include <string>
#include <vector>

#include "messages/StringTable.h"
#include "platform/WinError.h"
#include "platform/portable/SystemMessages.h"
#include "platform/portable/profile/ProfileService.h"
#include "platform/testing/UnavailableEnv.h"
#include "support/TempDir.h"

class ProfileTestEnv : public UnavailableEnv {
 public:
  struct Message {
    std::string text;
    uint32_t type;
  };

  TempDir dir;
  ProfileService service;
  std::vector<Message> messages;
  int profileCalls = 0;
  uint32_t lastError = 0;

  std::filesystem::path Host(const std::string& path) const { return dir / path; }

  uint32_t ProfileReadString(const char* section, const char* key, const char* def, char* buffer,
                             uint32_t size, const std::string& path) override {
    ++profileCalls;
    return service.ReadString(section, key, def, buffer, size, Host(path), &lastError);
  }
  uint32_t ProfileReadSection(const char* section, char* buffer, uint32_t size,
                              const std::string& path) override {
    ++profileCalls;
    return service.ReadSection(section, buffer, size, Host(path), &lastError);
  }
  uint32_t ProfileReadInt(const char* section, const char* key, int32_t def,
                          const std::string& path) override {
    ++profileCalls;
    return service.ReadInt(section, key, def, Host(path), &lastError);
  }
  bool ProfileWriteString(const char* section, const char* key, const char* value,
                          const std::string& path) override {
    ++profileCalls;
    return service.WriteString(section, key, value, Host(path), &lastError);
  }
  uint32_t LastError() override { return lastError; }
  void SetLastErrorCode(uint32_t code) override { lastError = code; }
  bool SystemMessage(uint32_t code, std::string* text) override {
    uint32_t error = FindSystemMessage(code, text);
    if (error != 0) lastError = error;
    return error == 0;
  }
  bool LoadTableString(uint32_t id, std::string* text) override {
    return FindTableString(id, text);
  }
  void ShowMessage(const std::string& text, uint32_t type) override {
    messages.push_back({text, type});
  }
};
