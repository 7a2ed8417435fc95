#include <gtest/gtest.h>

#include <functional>

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
            "result          Cancel: the run could not start (see the messages above); nothing "
            "has been changed\r\n");
}

void WriteOldUninstallEntry(Scenario& s) {
  RegKey key = 0;
  s.env().CreateKey(kHKeyLocalMachine,
                    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\LUM", &key, nullptr);
  s.env().SetValue(key, "UninstallString", kRegSz,
                   reinterpret_cast<const uint8_t*>("C:\\LUM\\UNINST.EXE"), 16);
  s.env().CloseKey(key);
}

// What a run tells whoever started it: OK only when everything found was
// carried over; a run that changed something and stopped, or left
// something where it was, is told apart from one that changed nothing.
TEST(WorkStep, TheOutcomeSaysWhatTheRunDid) {
  struct Case {
    const char* what;
    std::function<void(Scenario&)> prepare;
    RunOutcome outcome;
    const char* result;
  };
  const Case cases[] = {
      {"a typical installation", WriteTypicalInstallation, RunOutcome::kOk, "result          OK: "},
      {"queues imported earlier",
       [](Scenario& s) {
         WriteTypicalInstallation(s);
         s.CreateKey("SOFTWARE\\Tandrel\\LUM\\Queues\\A");
       },
       RunOutcome::kDeclined, "already holds imported queues"},
      {"a queue whose directory is missing",
       [](Scenario& s) {
         WriteTypicalInstallation(s);
         s.Write("C:\\OLD\\lum.ini", "[Queues]\r\n1=GONE\r\n[GONE]\r\nqueuedir=C:\\NOWHERE\r\n");
       },
       RunOutcome::kIncomplete, "OK, but not everything was carried over"},
      {"an entry, but no dellum.exe to hand it over to",
       [](Scenario& s) {
         WriteTypicalInstallation(s);
         WriteOldUninstallEntry(s);
       },
       RunOutcome::kOk, "note            there is no dellum.exe beside the program"},
      {"an entry handed over, then no Windows directory",
       [](Scenario& s) {
         s.options.windowsDirectory = "C:\\WINNT";
         s.Write("C:\\Setup\\dellum.exe", "");
         WriteOldUninstallEntry(s);
       },
       RunOutcome::kIncomplete, "Cancel: the run stopped after"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scenario s;
    c.prepare(s);
    CCheckLUMDlg dlg(s.env());
    dlg.RunWorkStep();
    EXPECT_EQ(dlg.Outcome(), c.outcome);
    std::string log = s.Read("C:\\Setup\\Backup\\CheckLUM.log").value_or("");
    EXPECT_NE(log.find(c.result), std::string::npos) << log;
  }
}
