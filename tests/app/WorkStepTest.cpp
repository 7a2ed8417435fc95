#include <gtest/gtest.h>

#include "app/CheckLUMDlg.h"
#include "support/Scenario.h"

TEST(WorkStep, SetupDirectoryIsTheProgramsDirectory) {
  Scenario s;
  s.options.programPath = "C:\\Setup\\CheckLUM.exe";
  CCheckLUMDlg dlg(s.env());
  ASSERT_TRUE(dlg.DiscoverDirectories());
  EXPECT_EQ(dlg.run.setupDirectory, "C:\\Setup\\");
}

TEST(WorkStep, MissingWindowsDirectoryEndsWithCancelAndSaysWhy) {
  Scenario s;
  s.options.windowsDirectory = "C:\\WINNT";
  EXPECT_FALSE(s.RunWorkStep());
  EXPECT_EQ(s.Messages(), "CheckLUM: Error getting Windows directory:\nPath not found.\n");
  EXPECT_FALSE(s.Exists("C:\\Setup\\Backup"));
}

TEST(WorkStep, SuccessfulImportEndsWithOk) {
  Scenario s;
  WriteTypicalInstallation(s);
  EXPECT_TRUE(s.RunWorkStep());
}

TEST(WorkStep, DecliningImportEndsWithCancel) {
  Scenario s;
  WriteTypicalInstallation(s);
  s.CreateKey("SOFTWARE\\Tandrel\\LUM\\Queues\\A");
  EXPECT_FALSE(s.RunWorkStep());
}
