// Every installation of the end-to-end tests, run by the Linux program once
// over HKLM.reg and once over a SOFTWARE hive holding the same registry:
// the runs make the same changes, as two readers independent of the
// program see them (hivexregedit, libhivex's own tools, whose export is read
// as a registry file; libregf's regfexport; and reglookup); the hive stays sound,
// with nothing changed in its old bins that the changes do not need; and
// --restore gives the hive's registry back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/CommandOutput.h"
#include "support/HiveImage.h"
#include "support/HiveStructure.h"
#include "support/Installations.h"
#include "support/RegistrySubtree.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const char* const kSoftware[] = {"SOFTWARE\\Tandrel",
                                 "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"};

std::string Regf(const fs::path& hive) {
  int status = -1;
  std::string text = RegfExport(hive, &status);
  EXPECT_EQ(status, 0) << text;
  return text;
}

int RunProgram(const std::string& arguments) {
  int status = -1;
  std::string output = CommandOutput(std::string(CHECKLUM_PROGRAM) +
                                         " --windows-dir 'C:\\windows' "
                                         "--program 'C:\\Setup\\CheckLUM.exe' " +
                                         arguments,
                                     &status);
  EXPECT_NE(status, -1) << output;
  return status;
}

class HiveMode : public testing::TestWithParam<size_t> {
 protected:
  // The installation as an image: its registry in HKLM.reg, or with `hive`
  // in the SOFTWARE hive, which is then returned.
  fs::path Image(const fs::path& image, bool hive) {
    const Installation& installation = Installations()[GetParam()];
    WriteTree(image / "C", installation.files, "windows");
    const fs::path file = image / "HKLM.reg";
    WriteAll(file, UninstallEntriesFile(installation) + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n");
    if (!hive) return file;
    const fs::path software = image / "C/windows/System32/config/SOFTWARE";
    EXPECT_TRUE(HiveFromRegistryFile(file, software));
    fs::remove(file);
    return software;
  }
  void RunTwice(const fs::path& image) {
    const Installation& installation = Installations()[GetParam()];
    EXPECT_EQ(RunProgram("'" + image.string() + "'"), installation.status);
    if (!installation.beforeSecondRun.empty()) {
      WriteTree(image / "C", installation.beforeSecondRun, "windows");
      RunProgram("'" + image.string() + "'");
    }
  }

  TempDir dir;
};

TEST_P(HiveMode, TheRunMakesTheChangesOfARunOverHklmReg) {
  SCOPED_TRACE(Installations()[GetParam()].name);
  const fs::path registryFile = Image(dir / "file", false);
  const fs::path hive = Image(dir / "hive", true);
  const std::string before = ReadAll(hive), exportedBefore = Regf(hive);
  RunTwice(dir / "file");
  RunTwice(dir / "hive");

  int status = -1;
  const std::string hivex = HivexExport(hive, &status);
  ASSERT_EQ(status, 0);
  const std::string overFile = ReadAll(registryFile);
  for (const char* key : kSoftware) {
    const std::string subtree = RegistrySubtree(hivex, key);
    EXPECT_EQ(subtree, RegistrySubtree(overFile, key)) << key;
    EXPECT_EQ(subtree.find("unreadable"), std::string::npos) << subtree;
  }
  EXPECT_NE(RegistrySubtree(hivex, "SOFTWARE\\Tandrel\\LUM"), "");
  const fs::path carried = dir / "carried" / "SOFTWARE";
  ASSERT_TRUE(HiveFromRegistryFile(registryFile, carried));
  EXPECT_EQ(Regf(hive), Regf(carried));
  const std::string listed = RegLookup(hive, &status);
  EXPECT_EQ(status, 0) << listed;
  EXPECT_EQ(listed, RegLookup(carried, &status));
  EXPECT_EQ(listed.find("ERROR"), std::string::npos) << listed;

  const std::string after = ReadAll(hive);
  EXPECT_EQ(CheckHiveStructure(after), "");
  EXPECT_EQ(UnexpectedlyChangedCells(before, after, true), "");

  EXPECT_EQ(RunProgram("--restore '" + (dir / "hive").string() + "'"), 0);
  EXPECT_EQ(Regf(hive), exportedBefore);
  EXPECT_EQ(CheckHiveStructure(ReadAll(hive)), "");
}

INSTANTIATE_TEST_SUITE_P(Installations, HiveMode,
                         testing::Range<size_t>(0, Installations().size()));

}  // namespace
