#include <gtest/gtest.h>

#include "app/CheckLUMDlg.h"
#include "import/ImportDriver.h"
#include "platform/EnvWrapper.h"
#include "platform/testing/FaultInjectionEnv.h"
#include "support/Scenario.h"

TEST(ImportPaths, PointerProfileInTheWindowsDirectory) {
  EXPECT_EQ(PointerProfilePath("C:\\WINDOWS"), "C:\\WINDOWS\\lum.ini");
  EXPECT_EQ(PointerProfilePath("C:\\"), "C:\\lum.ini");
}

TEST(ImportPaths, OldInstallationDirectory) {
  EXPECT_EQ(OldInstallationDirectory("C:\\OLD\\lum.ini", "lum.ini"), "C:\\OLD\\");
  // The stored name differs in letter case: the last backslash decides.
  EXPECT_EQ(OldInstallationDirectory("C:\\OLD\\LUM.INI", "lum.ini"), "C:\\OLD\\");
  EXPECT_EQ(OldInstallationDirectory("C:\\OLD\\LUM.INI", ""), "C:\\OLD\\");
  EXPECT_EQ(OldInstallationDirectory("lum.ini", "lum.ini"), "");
  EXPECT_EQ(OldInstallationDirectory("", ""), "");
  // Forward slashes: the stored name still finds the directory.
  EXPECT_EQ(OldInstallationDirectory("C:/OLD/lum.ini", "lum.ini"), "C:/OLD/");
  // A directory that contains the file's name is not cut short.
  EXPECT_EQ(OldInstallationDirectory("C:\\lum\\lum", "lum"), "C:\\lum\\");
}

class ImportDriverTest : public ::testing::Test {
 protected:
  std::string Script() { return s.Read("C:\\Setup\\Backup\\restore.bat").value_or("<missing>"); }
  Scenario s;
};

TEST_F(ImportDriverTest, DeclinesWhenQueuesAreConfigured) {
  WriteTypicalInstallation(s);
  s.CreateKey("SOFTWARE\\Tandrel\\LUM\\Queues\\Alpha");
  CCheckLUMDlg dlg(s.env());
  ASSERT_TRUE(dlg.DiscoverDirectories());
  EXPECT_FALSE(ImportSettings(dlg.run));
  EXPECT_EQ(dlg.statusLine, "Importing file");
  EXPECT_FALSE(s.Exists("C:\\Setup\\Spool"));
  EXPECT_FALSE(s.Exists("C:\\Setup\\Backup"));
  EXPECT_TRUE(s.Exists("C:\\WINDOWS\\lum.ini"));
}

TEST_F(ImportDriverTest, EmptyQueuesKeyDoesNotStopTheImport) {
  WriteTypicalInstallation(s);
  s.CreateKey("SOFTWARE\\Tandrel\\LUM\\Queues");
  EXPECT_TRUE(s.RunWorkStep());
}

TEST_F(ImportDriverTest, UnknownQueueCountCountsAsConfiguredQueues) {
  WriteTypicalInstallation(s);
  s.CreateKey("SOFTWARE\\Tandrel\\LUM\\Queues");
  FaultInjectionEnv faulty(s.env());
  faulty.FailFirst("QueryKeyInfo");
  CCheckLUMDlg dlg(faulty);
  ASSERT_TRUE(dlg.DiscoverDirectories());
  EXPECT_FALSE(ImportSettings(dlg.run));
  EXPECT_FALSE(s.Exists("C:\\Setup\\Backup"));
}

TEST_F(ImportDriverTest, DirectoriesAreJoinedAsBuilt) {
  WriteTypicalInstallation(s);
  CCheckLUMDlg dlg(s.env());
  ASSERT_TRUE(dlg.DiscoverDirectories());
  EXPECT_EQ(dlg.run.setupDirectory, "C:\\Setup\\");
  ASSERT_TRUE(ImportSettings(dlg.run));
  EXPECT_EQ(dlg.run.spoolDirectory, "C:\\Setup\\\\Spool\\");
  EXPECT_EQ(dlg.run.backupDirectory, "C:\\Setup\\\\Backup");
  EXPECT_TRUE(s.Exists("C:\\Setup\\Spool"));
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\winlum.ini"), "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
  EXPECT_FALSE(s.Exists("C:\\WINDOWS\\lum.ini"));
}

TEST_F(ImportDriverTest, RunWithoutQueuesOrTablesWritesExactlyTwoLines) {
  WriteTypicalInstallation(s);
  ASSERT_TRUE(s.RunWorkStep());
  EXPECT_EQ(Script(),
            "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\n"
            "copy/y lum.ini C:\\OLD\\lum.ini\r\n");
  EXPECT_EQ(s.List("C:\\Setup\\Backup"),
            (std::vector<std::string>{"CheckLUM.log", "lum.ini", "restore.bat", "restore.reg",
                                      "winlum.ini"}));
}

// Without an Ini value there is no main profile: its line would name no file
// (it used to read copy/y lum.ini "").
TEST_F(ImportDriverTest, MissingPointerProfileWritesOnlyItsOwnLine) {
  EXPECT_TRUE(s.RunWorkStep());
  EXPECT_EQ(Script(), "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\n");
  EXPECT_EQ(s.Messages(), "");  // no old installation: nothing to tell
}

TEST_F(ImportDriverTest, PointerProfileWithoutIniValueSaysSo) {
  s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nOther=1\r\n");
  EXPECT_TRUE(s.RunWorkStep());
  EXPECT_EQ(Script(), "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\n");
  EXPECT_NE(s.Messages().find("names no main profile"), std::string::npos) << s.Messages();
}

// The main profile is the file the profile functions read, whatever form
// its path takes; that one file is moved, and its line names it in full,
// since restore.bat runs from the backup directory.
TEST_F(ImportDriverTest, RelativeMainProfileIsReadMovedAndRestoredByItsFullPath) {
  struct Case {
    const char* ini;
    const char* file;  // where the profile functions find it
  };
  for (Case c : {Case{"LUM\\lum.ini", "C:\\Setup\\LUM\\lum.ini"},
                 Case{"C:lum.ini", "C:\\Setup\\lum.ini"}, Case{"lum2.ini", "C:\\WINDOWS\\lum2.ini"},
                 Case{"C:\\OLD\\..\\OLD\\lum.ini", "C:\\OLD\\lum.ini"}}) {
    Scenario fresh;
    fresh.Write("C:\\WINDOWS\\lum.ini", std::string("[Settings]\r\nIni=") + c.ini + "\r\n");
    fresh.Write(c.file, "[Settings]\r\nPort=515\r\n");
    // A decoy where the file functions alone would look for a bare name.
    fresh.Write("C:\\Setup\\lum2.ini", "[Settings]\r\nPort=1\r\n");
    ASSERT_TRUE(fresh.RunWorkStep()) << c.ini;
    EXPECT_EQ(fresh.Value("SOFTWARE\\Tandrel\\LUM", "Port"), (RegValue{kRegDword, DwordBytes(515)}))
        << c.ini;
    EXPECT_FALSE(fresh.Exists(c.file)) << c.ini;
    EXPECT_EQ(fresh.Read("C:\\Setup\\Backup\\lum.ini"), "[Settings]\r\nPort=515\r\n") << c.ini;
    EXPECT_EQ(
        fresh.Read("C:\\Setup\\Backup\\restore.bat"),
        std::string("copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\ncopy/y lum.ini ") + c.file + "\r\n")
        << c.ini;
    if (std::string(c.file) != "C:\\Setup\\lum2.ini") {
      EXPECT_EQ(fresh.Read("C:\\Setup\\lum2.ini"), "[Settings]\r\nPort=1\r\n") << c.ini;
    }
  }
}

// A main profile named inside the backup directory would overwrite the
// restore script or the pointer profile's only backup: it stays.
TEST_F(ImportDriverTest, FilesOfTheBackupDirectoryAreNeverMoved) {
  for (const char* ini : {"C:\\Setup\\Backup\\restore.bat", "c:\\setup\\BACKUP\\WinLum.INI",
                          "C:\\Setup\\Spool\\x.ini"}) {
    Scenario fresh;
    fresh.Write("C:\\WINDOWS\\lum.ini", std::string("[Settings]\r\nIni=") + ini + "\r\n");
    fresh.Write("C:\\Setup\\Spool\\x.ini", "spooled");
    ASSERT_TRUE(fresh.RunWorkStep()) << ini;
    EXPECT_EQ(fresh.Read("C:\\Setup\\Backup\\restore.bat"),
              "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\n")
        << ini;
    EXPECT_EQ(fresh.Read("C:\\Setup\\Backup\\winlum.ini"),
              std::string("[Settings]\r\nIni=") + ini + "\r\n")
        << ini;
    EXPECT_EQ(fresh.Read("C:\\Setup\\Spool\\x.ini"), "spooled") << ini;
    EXPECT_NE(fresh.Messages().find("It is not moved"), std::string::npos) << fresh.Messages();
  }
}

TEST_F(ImportDriverTest, EarlierRestoreScriptIsReplaced) {
  WriteTypicalInstallation(s);
  s.Write("C:\\Setup\\Backup\\restore.bat", "copy/y stale C:\\stale\r\n");
  ASSERT_TRUE(s.RunWorkStep());
  EXPECT_EQ(Script().find("stale"), std::string::npos);
}

TEST_F(ImportDriverTest, SecondRunAfterQueuesWereImportedTouchesNothing) {
  WriteTypicalInstallation(s);
  ASSERT_TRUE(s.RunWorkStep());
  std::string script = Script();
  s.CreateKey("SOFTWARE\\Tandrel\\LUM\\Queues\\Alpha");
  s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
  EXPECT_FALSE(s.RunWorkStep());
  EXPECT_EQ(Script(), script);
  EXPECT_TRUE(s.Exists("C:\\WINDOWS\\lum.ini"));
}

TEST_F(ImportDriverTest, EmptySetupDirectoryWorksAtTheRootOfTheCurrentDrive) {
  WriteTypicalInstallation(s);
  FaultInjectionEnv faulty(s.env());
  faulty.FailFirst("ModuleFileName");
  CCheckLUMDlg dlg(faulty);
  ASSERT_TRUE(dlg.DiscoverDirectories());
  EXPECT_EQ(dlg.run.setupDirectory, "");
  ASSERT_TRUE(ImportSettings(dlg.run));
  EXPECT_EQ(dlg.run.spoolDirectory, "\\Spool\\");
  EXPECT_EQ(dlg.run.backupDirectory, "\\Backup");
  EXPECT_TRUE(s.Exists("C:\\Backup\\winlum.ini"));
}

TEST_F(ImportDriverTest, RestoreScriptThatCannotBeCreatedStopsBeforeAnyMove) {
  WriteTypicalInstallation(s);
  FaultInjectionEnv faulty(s.env());
  faulty.FailFirst("CreateWritable", kErrorAccessDenied, 1);  // restore.reg is made
  CCheckLUMDlg dlg(faulty);
  ASSERT_TRUE(dlg.DiscoverDirectories());
  EXPECT_FALSE(ImportSettings(dlg.run));
  EXPECT_TRUE(s.Exists("C:\\WINDOWS\\lum.ini"));
  EXPECT_TRUE(s.Exists("C:\\OLD\\lum.ini"));
  EXPECT_NE(s.Messages().find("Error creating the restore script"), std::string::npos);
  EXPECT_NE(s.Messages().find("Access denied."), std::string::npos) << s.Messages();
}

TEST_F(ImportDriverTest, CurrentJobsKeyThatCannotBeCreatedEndsTheImport) {
  WriteTypicalInstallation(s);
  FaultInjectionEnv faulty(s.env());
  faulty.FailFirst("CreateKey", 5, 1);  // the product key opens; CurrentJobs does not
  CCheckLUMDlg dlg(faulty);
  ASSERT_TRUE(dlg.DiscoverDirectories());
  EXPECT_FALSE(ImportSettings(dlg.run));
  EXPECT_EQ(faulty.FailedOperation(), "CreateKey");
  EXPECT_FALSE(s.KeyExists("SOFTWARE\\Tandrel\\LUM\\CurrentJobs"));
  EXPECT_TRUE(s.Value("SOFTWARE\\Tandrel\\LUM", "Port").has_value());
  // The pointer profile had already moved; its line is on disk.
  EXPECT_EQ(Script(), "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\n");
  EXPECT_TRUE(s.Exists("C:\\OLD\\lum.ini"));
}

// A user without an administrator's rights may read HKEY_LOCAL_MACHINE but
// open none of its keys for writing.
class NoAdministratorRights : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  uint32_t OpenKey(RegKey, const char*, RegKey* result) override { return Deny(result); }
  uint32_t CreateKey(RegKey, const char*, RegKey* result, bool*) override { return Deny(result); }

 private:
  static uint32_t Deny(RegKey* result) {
    *result = 0;
    return kErrorAccessDenied;
  }
};

TEST_F(ImportDriverTest, RunWithoutTheRightsToWriteTheRegistryTellsTheUserAndMovesNothing) {
  WriteTypicalInstallation(s);
  NoAdministratorRights user(s.env());
  CCheckLUMDlg dlg(user);
  EXPECT_FALSE(dlg.RunWorkStep());
  EXPECT_NE(s.Messages().find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM cannot be opened for "
                              "writing:\nAccess denied."),
            std::string::npos)
      << s.Messages();
  EXPECT_NE(s.Messages().find("administrator"), std::string::npos);
  EXPECT_TRUE(s.Exists("C:\\WINDOWS\\lum.ini"));
  EXPECT_TRUE(s.Exists("C:\\OLD\\lum.ini"));
  EXPECT_FALSE(s.Exists("C:\\Setup\\Backup\\restore.bat"));
  EXPECT_FALSE(s.Exists("C:\\Setup\\Spool"));
}

// A disk that fills up just as restore.bat is written.
class ScriptDiskFull : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  std::unique_ptr<WritableFile> CreateWritable(const std::string& path) override {
    std::unique_ptr<WritableFile> file = EnvWrapper::CreateWritable(path);
    if (!file || path.find("restore.bat") == std::string::npos) return file;
    return std::make_unique<Full>(std::move(file), *this);
  }

 private:
  class Full : public WritableFile {
   public:
    Full(std::unique_ptr<WritableFile> inner, Env& env) : inner_(std::move(inner)), env_(env) {}
    bool Append(std::string_view) override {
      env_.SetLastErrorCode(kErrorDiskFull);
      return false;
    }
    bool Sync() override { return inner_->Sync(); }
    bool Close() override { return inner_->Close(); }

   private:
    std::unique_ptr<WritableFile> inner_;
    Env& env_;
  };
};

// The moves whose lines could not be written stay where they are, and the
// run does not end as if everything had gone well.
TEST_F(ImportDriverTest, RestoreScriptThatCannotBeWrittenEndsTheRunWithCancel) {
  WriteTypicalInstallation(s);
  ScriptDiskFull full(s.env());
  CCheckLUMDlg dlg(full);
  EXPECT_FALSE(dlg.RunWorkStep());
  EXPECT_TRUE(s.Exists("C:\\WINDOWS\\lum.ini"));
  EXPECT_TRUE(s.Exists("C:\\OLD\\lum.ini"));
  EXPECT_NE(s.Messages().find("Error writing the restore script"), std::string::npos)
      << s.Messages();
  EXPECT_EQ(dlg.run.restoreScript.FilesBackedUp(), 0);
}
