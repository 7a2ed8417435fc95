// A profile that another program holds open without sharing cannot be read
// by the real profile functions: the import must neither import nor move it.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "app/CheckLUMDlg.h"
#include "platform/win32/EnvWin32.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class LockedEnv : public EnvWin32 {
 public:
  explicit LockedEnv(std::string root) : root_(std::move(root)) {}
  bool WindowsDirectory(std::string* dir) override {
    *dir = root_ + "\\WINDOWS";
    return true;
  }
  bool ModuleFileName(std::string* path) override {
    *path = root_ + "\\Setup\\CheckLUM.exe";
    return true;
  }
  void ShowMessage(const std::string& text, uint32_t) override { messages += text + "\n"; }
  std::string messages;

 private:
  std::string root_;
};

void Write(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

TEST(LockedProfileWin32, ProfileHeldOpenByAnotherProgramStaysAndIsReported) {
  TempDir dir;
  std::string root = dir.path().string();
  Write(dir / "WINDOWS/lum.ini", "[Settings]\r\nIni=" + root + "\\OLD\\lum.ini\r\n");
  Write(dir / "OLD/lum.ini",
        "[Settings]\r\nPort=515\r\n[Queues]\r\nq=Q\r\n[Q]\r\nqueuedir=" + root + "\\OLD\\Q\r\n");
  Write(dir / "OLD/Q/queue.ini", "[Settings]\r\nType=1\r\n");
  Write(dir / "OLD/Q/cf1.ini", "[Settings]\r\nSeqno=1\r\nControlFileName=cfA1\r\n");
  fs::create_directories(dir / "Setup");

  std::string key = "Software\\CheckLUMLocked-" + std::to_string(GetCurrentProcessId());
  HKEY machine = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &machine,
                  nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);
  std::string locked = root + "\\OLD\\Q\\cf1.ini";
  HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(hold, INVALID_HANDLE_VALUE);
  LockedEnv env(root);
  bool ok;
  {
    CCheckLUMDlg dlg(env);
    ok = dlg.RunWorkStep();
  }
  CloseHandle(hold);
  RegKey jobs = 0;
  bool jobKey = env.OpenKey(kHKeyLocalMachine, "SOFTWARE\\Tandrel\\LUM\\Jobs\\cfA1", &jobs) == 0;
  if (jobKey) env.CloseKey(jobs);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegCloseKey(machine);
  RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());

  EXPECT_TRUE(ok);
  EXPECT_TRUE(fs::exists(dir / "OLD/Q/cf1.ini"));
  EXPECT_FALSE(jobKey);
  EXPECT_NE(env.messages.find("The profile " + locked + " cannot be read:"), std::string::npos)
      << env.messages;
  EXPECT_FALSE(fs::exists(dir / "OLD/Q/queue.ini"));  // the queue itself moved
}

}  // namespace
