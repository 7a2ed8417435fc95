// cmd itself runs restore scripts whose paths go beyond ASCII: it reads a
// batch file in the OEM code page, so the lines must be written in it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "import/RestoreJournal.h"
#include "support/WindowsMachine.h"

namespace {

void WriteAnsiFile(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
}

std::string ReadAnsiFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  char buffer[256];
  DWORD read = 0;
  ReadFile(file, buffer, sizeof buffer, &read, nullptr);
  CloseHandle(file);
  return std::string(buffer, read);
}

}  // namespace

TEST(RestoreScriptWin32, CmdBringsBackPathsBeyondAscii) {
  WindowsMachine machine("oem");
  const std::string old = machine.root + "\\Caf\xE9", setup = machine.root + "\\Setup";
  for (const std::string& dir : {old, setup, setup + "\\Backup", setup + "\\Spool"}) {
    CreateDirectoryA(dir.c_str(), nullptr);
  }
  const std::string queue = old + "\\K\xF6ln.ini", data = old +
                                                          "\\d\xFC"
                                                          "f";
  WriteAnsiFile(queue, "queue");
  WriteAnsiFile(data, "data");
  RestoreJournal journal(machine.env);
  ASSERT_TRUE(journal.Open(setup + "\\Backup", setup + "\\Spool\\"));
  journal.MoveToBackup(queue, "K\xF6ln");
  const std::string spooled = setup +
                              "\\Spool\\d\xFC"
                              "f";
  ASSERT_TRUE(CopyFileA(data.c_str(), spooled.c_str(), FALSE));
  ASSERT_TRUE(journal.AddJobFileCopyLine(spooled, data));
  journal.Close();
  ASSERT_EQ(ReadAnsiFile(queue), "<missing>");
  ASSERT_TRUE(DeleteFileA(data.c_str()));

  machine.RunRestoreChain();
  EXPECT_EQ(ReadAnsiFile(queue), "queue");
  EXPECT_EQ(ReadAnsiFile(data), "data");
  EXPECT_EQ(machine.env.messages, "");
}
