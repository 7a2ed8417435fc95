// The messages over the real Windows services: the string table resource
// linked into this program and the system's own error texts.
#include <gtest/gtest.h>
#include <windows.h>

#include "messages/Messages.h"
#include "platform/win32/EnvWin32.h"

namespace {

struct TableEntry {
  uint32_t id;
  const char* text;
};

constexpr TableEntry kTable[] = {
#define CHECKLUM_STRING(name, id, text) {id, text},
#include "messages/StringTable.inc"
#undef CHECKLUM_STRING
};

TEST(MessagesWin32Test, ResourceTableHoldsEveryEntryInEnglish) {
  EnvWin32 env;
  for (const TableEntry& entry : kTable) {
    std::string text;
    ASSERT_TRUE(env.LoadTableString(entry.id, &text)) << entry.id;
    EXPECT_EQ(text, entry.text);
    // Strings are stored in blocks of 16; each block must be language 1033.
    EXPECT_NE(FindResourceExA(nullptr, RT_STRING, MAKEINTRESOURCEA(entry.id / 16 + 1),
                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              nullptr)
        << entry.id;
  }
  std::string text;
  EXPECT_FALSE(env.LoadTableString(7, &text));
  EXPECT_EQ(AppendTableMessage(env, text, 7), 0);
  EXPECT_EQ(text, "");
}

TEST(MessagesWin32Test, SystemTextIsTheFirstLineOfFormatMessage) {
  EnvWin32 env;
  std::string raw;
  ASSERT_TRUE(env.SystemMessage(ERROR_FILE_NOT_FOUND, &raw));
  std::string text;
  GetSystemErrorText(env, text, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(raw.substr(0, text.size() + 2), text + "\r\n");

  SetLastError(ERROR_FILE_NOT_FOUND);
  std::string same;
  EXPECT_EQ(GetSystemErrorText(env, same, 0), text);

  SetLastError(ERROR_FILE_NOT_FOUND);
  std::string message;
  AppendMessage(env, message, "Open %s: %m", "a.ini");
  EXPECT_EQ(message, "Open a.ini: " + text);
}

TEST(MessagesWin32Test, CodesWithoutATextFallBackToTheNumberAndInsertsStay) {
  EnvWin32 env;
  std::string text;
  EXPECT_EQ(GetSystemErrorText(env, text, 0xDEADBEEF), "Unknown Win32 error: 3735928559");
  // The text of 193 holds an insert (%1), which stays as it stands.
  EXPECT_NE(GetSystemErrorText(env, text, ERROR_BAD_EXE_FORMAT).find("%1"), std::string::npos)
      << text;
}

}  // namespace
