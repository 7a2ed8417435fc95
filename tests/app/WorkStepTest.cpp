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
  // Nothing is imported or moved; the log alone says what happened.
  EXPECT_EQ(s.List("C:\\Setup\\Backup"), std::vector<std::string>{"CheckLUM.log"});
  EXPECT_EQ(*s.Read("C:\\Setup\\Backup\\CheckLUM.log"),
            "message shown   Error getting Windows directory: | Path not found.\r\n"
            "result          Cancel: 0 queues and 0 jobs imported, 0 data files copied into the "
            "spool directory, 0 files moved into the backup directory\r\n");
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
