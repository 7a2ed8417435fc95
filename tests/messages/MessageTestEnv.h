// An Env for message tests: the last error, the system's texts and the
// string table are scripted per test; it counts the text look-ups. Every other
// operation fails.
#pragma once

#include <map>
#include <string>

#include "messages/StringTable.h"
#include "platform/WinError.h"
#include "platform/testing/UnavailableEnv.h"

class MessageTestEnv : public UnavailableEnv {
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
};
