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

std::map<std::string, std::string> IniFiles(const Scenario& s) {
  std::map<std::string, std::string> files;
  for (const auto& [path, content] : s.Files()) {
    bool imported = path.rfind("C:\\Setup\\", 0) == 0;
    for (const char* backup : kBackupDirectories) {
      if (path.rfind(std::string(backup) + "\\", 0) == 0) imported = true;
    }
    if (!imported) files[path] = content;
  }
  return files;
}

// Runs restore.bat (if the run got that far) and checks that every original
// file is back with its original bytes.
void ExpectRestorable(Scenario& s, const std::map<std::string, std::string>& before) {
  for (const char* backup : kBackupDirectories) {
    if (auto script = s.Read(std::string(backup) + "\\restore.bat")) {
      RestoreRun run = RunRestoreScript(s.env(), backup, *script);
      EXPECT_TRUE(run.understood) << *script;
    }
  }
  EXPECT_EQ(IniFiles(s), before);
}

void WriteInstallation(Scenario& s) {
  WriteTypicalInstallation(s);
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
