// The registry view of the Windows build: every key it opens or creates lies
// in the 32-bit view, where the old release (a 32-bit program) left its
// uninstall entry and where the new release reads the product key. The test
// program may be 64-bit; the keys must land in the same place either way.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/win32/EnvWin32.h"
#include "support/MachineView.h"

namespace {

bool ExistsInView(const std::string& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

TEST(RegistryViewWin32, KeysAreCreatedAndFoundInThe32BitViewOnly) {
  std::string name = "CheckLUMView-" + std::to_string(GetCurrentProcessId());
  std::string path = "SOFTWARE\\" + name + "\\LUM";
  EnvWin32 env;
  RegKey key = 0;
  ASSERT_EQ(env.CreateKey(kHKeyLocalMachine, path.c_str(), &key, nullptr), 0u);
  env.CloseKey(key);
  EXPECT_TRUE(ExistsInView(path, KEY_WOW64_32KEY));
  EXPECT_FALSE(ExistsInView(path, KEY_WOW64_64KEY));

  // A key placed in the 64-bit view alone is not seen; one placed in the
  // 32-bit view is.
  std::string other = "SOFTWARE\\" + name + "64";
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, other.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(raw);
  EXPECT_EQ(env.OpenKey(kHKeyLocalMachine, other.c_str(), &key), 2u);
  ASSERT_EQ(env.OpenKey(kHKeyLocalMachine, path.c_str(), &key), 0u);
  env.CloseKey(key);

  DeleteSoftwareKey(std::wstring(name.begin(), name.end()));
  HKEY software = nullptr;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &software),
      ERROR_SUCCESS);
  RegDeleteTreeA(software, (name + "64").c_str());
  RegCloseKey(software);
  EXPECT_FALSE(ExistsInView(path, KEY_WOW64_32KEY));
}

// Windows leaves the caller's handle alone when the parent is null.
TEST(RegistryViewWin32, AnOpenBelowANullParentLeavesTheHandleAlone) {
  EnvWin32 env;
  RegKey key = 0x5A5A;
  EXPECT_EQ(env.OpenKey(0, "SOFTWARE", &key), 6u);
  EXPECT_EQ(key, 0x5A5Au);
}

}  // namespace
