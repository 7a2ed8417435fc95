// Whatever happens during an import, no INI file is lost: each one is either
// where it was, or in the backup directory with a restore line that brings it
// back byte for byte.
#include <gtest/gtest.h>

#include "app/CheckLUMDlg.h"
#include "platform/testing/FaultInjectionEnv.h"
#include "support/Scenario.h"

namespace {

// Where the import may have put its directories: below the setup directory,
// or at the root of the drive when the program's path was unavailable.
const char* const kBackupDirectories[] = {"C:\\Setup\\Backup", "C:\\Backup"};
const char* const kImportDirectories[] = {"C:\\Setup\\Backup", "C:\\Backup", "C:\\Setup\\Spool",
                                          "C:\\Spool"};

std::map<std::string, std::string> IniFiles(const Scenario& s) {
  std::map<std::string, std::string> files;
  for (const auto& [path, content] : s.Files()) {
    bool imported = path.rfind("C:\\Setup\\", 0) == 0;
    for (const char* directory : kImportDirectories) {
      if (path.rfind(std::string(directory) + "\\", 0) == 0) imported = true;
    }
    if (!imported) files[path] = content;
  }
  return files;
}

// Runs the restore chain (if a run got that far): restore.bat, then the
// scripts of earlier runs from restore.bat.N with the highest N down. Every
// original file must then be back with its original bytes.
void ExpectRestorable(Scenario& s, const std::map<std::string, std::string>& before) {
  for (const char* backup : kBackupDirectories) {
    std::vector<std::string> chain = {"restore.bat"};
    int kept = 0;
    while (s.Exists(std::string(backup) + "\\restore.bat." + std::to_string(kept + 1))) ++kept;
    for (int n = kept; n >= 1; --n) chain.push_back("restore.bat." + std::to_string(n));
    for (const std::string& name : chain) {
      if (auto script = s.Read(std::string(backup) + "\\" + name)) {
        RestoreRun run = RunRestoreScript(s.env(), backup, *script);
        EXPECT_TRUE(run.understood) << *script;
      }
    }
  }
  EXPECT_EQ(IniFiles(s), before);
}

// The typical installation with two queues: one with two jobs (one data file
// each, one of them missing), one without queue.ini.
void WriteInstallation(Scenario& s) {
  WriteTypicalInstallation(s);
  s.Write("C:\\OLD\\lum.ini",
          *s.Read("C:\\OLD\\lum.ini") +
              "[Queues]\r\nq1=Alpha\r\nq2=Bare\r\n"
              "[Alpha]\r\nqueuedir=C:\\OLD\\Q\r\n[Bare]\r\nqueuedir=C:\\OLD\r\n");
  s.Write("C:\\OLD\\Q\\queue.ini", "[Settings]\r\nType=1\r\n[Font]\r\nFaceName=Courier\r\n");
  s.Write("C:\\OLD\\Q\\cf1.ini",
          "[Settings]\r\nControlFileName=J1\r\nSeqno=1\r\nDataFiles=1\r\n"
          "[Files]\r\nFile1=ldf1\r\nData1=C:\\OLD\\Q\\df1\r\n");
  s.Write("C:\\OLD\\Q\\cf2.ini",
          "[Settings]\r\nControlFileName=J2\r\nSeqno=2\r\nDataFiles=1\r\n"
          "[Files]\r\nFile1=ldf2\r\nData1=C:\\OLD\\Q\\df2\r\n");
  s.Write("C:\\OLD\\Q\\df1", "job one's data");
  s.Write("C:\\OLD\\access.ini", "[Settings]\r\nDefault=1\r\n");
}

}  // namespace

TEST(RestoreProof, RestoreScriptPutsEveryMovedFileBack) {
  Scenario s;
  WriteInstallation(s);
  auto before = IniFiles(s);
  ASSERT_TRUE(s.RunWorkStep());
  EXPECT_FALSE(s.Exists("C:\\OLD\\lum.ini"));
  ExpectRestorable(s, before);
}

TEST(RestoreProof, PathsWithBlanksAndPercentsComeBack) {
  Scenario s;
  s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\Program Files\\LUM 100%\\lum.ini\r\n");
  s.Write("C:\\Program Files\\LUM 100%\\lum.ini", "[Settings]\r\nPort=515\r\n");
  auto before = IniFiles(s);
  ASSERT_TRUE(s.RunWorkStep());
  EXPECT_FALSE(s.Exists("C:\\Program Files\\LUM 100%\\lum.ini"));
  ExpectRestorable(s, before);
}

// An installation without queues passes the precondition again; the second
// run keeps the first run's way back, and the chain undoes both.
TEST(RestoreProof, ReRunKeepsTheFirstRunsWayBack) {
  Scenario s;
  WriteTypicalInstallation(s);
  auto before = IniFiles(s);
  ASSERT_TRUE(s.RunWorkStep());
  // The old release writes its profiles again, the import runs again.
  s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
  s.Write("C:\\OLD\\lum.ini", "[Settings]\r\nPort=516\r\n");
  ASSERT_TRUE(s.RunWorkStep());
  EXPECT_TRUE(s.Exists("C:\\Setup\\Backup\\restore.bat.1"));
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\lum.ini").value_or(""), before["C:\\OLD\\lum.ini"]);
  ExpectRestorable(s, before);
}

TEST(RestoreProof, NoSingleFailingOperationLosesAFile) {
  long operations = 0;
  {
    Scenario s;
    WriteInstallation(s);
    FaultInjectionEnv counting(s.env());
    CCheckLUMDlg dlg(counting);
    ASSERT_TRUE(dlg.RunWorkStep());
    operations = counting.OperationCount();
  }
  ASSERT_GT(operations, 20);
  for (long i = 0; i < operations; ++i) {
    Scenario s;
    WriteInstallation(s);
    auto before = IniFiles(s);
    {
      FaultInjectionEnv faulty(s.env());
      faulty.FailOperation(i, 112);
      CCheckLUMDlg dlg(faulty);
      dlg.RunWorkStep();
      SCOPED_TRACE("operation " + std::to_string(i) + ": " + faulty.FailedOperation());
    }
    SCOPED_TRACE("failing operation " + std::to_string(i));
    ExpectRestorable(s, before);
  }
}
