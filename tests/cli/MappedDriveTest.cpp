// The example disk, a small 64-bit Windows partition with its SOFTWARE
// hive, migrated as it lies: given as drive C: with --drive, beside an
// image folder that holds nothing else. The hive's readers (hivexregedit
// and regfexport) show the product key, a queue named beyond ASCII and the
// handed-over uninstall entry in the 32-bit view; the disk is held against
// a second run through another image; a link in it is not followed out of
// it; --restore gives back the disk's files and registry.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "platform/portable/files/HostFile.h"
#include "support/CommandOutput.h"
#include "support/HiveStructure.h"
#include "support/RegistrySubtree.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// The disk's files apart from the hive, whose registry regfexport compares.
std::map<std::string, std::string> Files(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && !entry.is_symlink() && entry.path().filename() != "SOFTWARE") {
      files[fs::relative(entry.path(), root).generic_string()] = ReadAll(entry.path());
    }
  }
  return files;
}

class MappedDriveTest : public testing::Test {
 protected:
  MappedDriveTest() : disk(dir / "disk"), image(dir / "server") {
    fs::copy(fs::path(CHECKLUM_SOURCE_DIR) / "examples" / "disk", disk,
             fs::copy_options::recursive);
    fs::create_directories(image);
    hive = disk / "Windows/System32/config/SOFTWARE";
  }
  int Run(const std::string& arguments, std::string* output) {
    return RunPlain("--drive 'C:=" + disk.string() + "' " + arguments, output);
  }
  int RunPlain(const std::string& arguments, std::string* output) {
    int status = -1;
    *output = CommandOutput(std::string(CHECKLUM_PROGRAM) + " " + arguments, &status);
    return status;
  }
  std::string Regf() {
    int status = -1;
    std::string text = RegfExport(hive, &status);
    EXPECT_EQ(status, 0) << text;
    return text;
  }

  TempDir dir;
  fs::path disk, image, hive;
};

TEST_F(MappedDriveTest, TheExampleDiskMigratesAsItLiesAndComesBack) {
  // A link in the disk that leads out of it: never followed.
  WriteAll(dir / "outside.ini", "[Settings]\r\nDefault=1\r\n");
  fs::create_symlink(dir / "outside.ini", disk / "LUM" / "access.ini");
  const auto files = Files(disk);
  const std::string before = Regf();
  std::string output;
  ASSERT_EQ(Run("'" + image.string() + "'", &output), 0) << output;
  EXPECT_TRUE(fs::exists(disk / "Setup" / "Backup" / "restore.bat"));
  EXPECT_TRUE(fs::is_symlink(disk / "LUM" / "access.ini"));
  EXPECT_EQ(ReadAll(dir / "outside.ini"), "[Settings]\r\nDefault=1\r\n");
  EXPECT_EQ(CheckHiveStructure(ReadAll(hive)), "");

  int status = -1;
  const std::string hivex = HivexExport(hive, &status);
  ASSERT_EQ(status, 0);
  const std::string lum = RegistrySubtree(hivex, "SOFTWARE\\WOW6432Node\\Tandrel\\LUM");
  for (const char* text : {"\"Port\"=dword:00000203", "[HKEY_LOCAL_MACHINE\\Queues\\B\xFCro]",
                           "\"DefaultQueue\"=\"B\xFCro\"", "[HKEY_LOCAL_MACHINE\\Jobs\\cfA301pc07]",
                           "\"UninstallString\"=\"C:\\\\LUM\\\\UNINST.EXE"}) {
    EXPECT_NE(lum.find(text), std::string::npos) << text << " in\n" << lum;
  }
  EXPECT_EQ(lum.find("Access"), std::string::npos) << lum;
  const std::string entry = RegistrySubtree(
      hivex,
      "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\LUM Print Spooler");
  EXPECT_NE(entry.find("\"UninstallString\"=\"C:\\\\Setup\\\\dellum.exe\""), std::string::npos)
      << entry;
  // regfexport spells the queue's name in UTF-8, and nothing reaches the
  // 64-bit view.
  const std::string exported = Regf();
  EXPECT_NE(exported.find("ROOT\\WOW6432Node\\Tandrel\\LUM\\Queues\\B\xC3\xBCro"),
            std::string::npos);
  EXPECT_EQ(exported.find("ROOT\\Tandrel"), std::string::npos);

  // The image records the drive: --restore needs no option again.
  ASSERT_EQ(RunPlain("--restore '" + image.string() + "'", &output), 0) << output;
  EXPECT_EQ(Regf(), before);
  auto restored = Files(disk);
  for (auto it = restored.begin(); it != restored.end();) {
    it = it->first.rfind("Setup/Backup/", 0) == 0 || it->first.rfind("Setup/Spool/", 0) == 0
             ? restored.erase(it)
             : std::next(it);
  }
  EXPECT_EQ(restored, files);
}

// Another run holds the disk: as a drive of its own, as the drive C of an
// image (the folder that holds it), or through a folder inside it, each
// reached by another path.
TEST_F(MappedDriveTest, ADiskInUseThroughAnotherImageIsLeftAlone) {
  fs::create_directory_symlink(dir.path(), dir / "also");
  const std::pair<fs::path, fs::path> others[] = {
      {disk, disk}, {dir / "also", dir.path()}, {dir / "also/disk/Windows", disk}};
  const auto files = Files(disk);
  for (const auto& [held, busy] : others) {
    SCOPED_TRACE(held.string());
    std::vector<std::unique_ptr<HostFolderLock>> otherRun;
    fs::path unused;
    ASSERT_TRUE(HoldHostFolders({held}, &otherRun, &unused));
    std::string output;
    EXPECT_EQ(Run("'" + image.string() + "'", &output), 2);
    EXPECT_NE(output.find(" is in use by another run"), std::string::npos) << output;
    EXPECT_NE(output.find(fs::canonical(busy).string()), std::string::npos) << output;
    EXPECT_EQ(Files(disk), files);
  }
}

TEST_F(MappedDriveTest, DrivesThatCannotBeUsedAreRefusedBeforeAnythingChanges) {
  const auto files = Files(disk);
  std::string output;
  struct Case {
    std::string arguments;
    const char* says;
  };
  fs::create_directories(dir / "full" / "C");
  const Case cases[] = {
      {"'" + (dir / "full").string() + "'", "the image holds"},
      {"--drive C:=/tmp '" + image.string() + "'", "drive C: is given twice"},
      {"--drive 'D=" + disk.string() + "' '" + image.string() + "'", "needs a drive"},
      {"--drive 'D:=" + (dir / "none").string() + "' '" + image.string() + "'", "is not a folder"},
      {"--dry-run '" + image.string() + "'", "not copied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(Run(c.arguments, &output), 2);
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
  }
  EXPECT_EQ(Files(disk), files);
}

}  // namespace
