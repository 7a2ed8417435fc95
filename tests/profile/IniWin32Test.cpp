// CIni over the real profile functions.
#include <gtest/gtest.h>

#include "platform/win32/EnvWin32.h"
#include "profile/Ini.h"
#include "support/TempDir.h"

namespace {

// The key-name list of a section whose first line has an empty name comes
// back empty from the real service too: the section is read whole instead.
TEST(IniWin32, SectionWhoseFirstKeyNameIsEmptyLosesNothing) {
  TempDir dir;
  dir.Write("lum.ini", "[Settings]\r\n=x\r\nA=1\r\nB=2\r\n");
  EnvWin32 env;
  CIni profile(env, (dir / "lum.ini").string());
  SectionMap map;
  EXPECT_EQ(profile.ReadSection("Settings", map), 2);
  EXPECT_EQ(map, (SectionMap{{"A", "1"}, {"B", "2"}}));
}

}  // namespace
