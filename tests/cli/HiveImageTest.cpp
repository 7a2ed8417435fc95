// The Linux program over an image whose registry is its SOFTWARE hive: the
// example machine with the contents of its HKLM.reg carried into a hive
// built in code, and no HKLM.reg. The run makes the same changes as over
// HKLM.reg, --restore brings the hive's registry back, and a hive Windows
// left dirty is refused with nothing changed. libregf's regfexport, a
// reader of its own, is the judge.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/hive/HiveHeader.h"
#include "support/CommandOutput.h"
#include "support/HiveImage.h"
#include "support/HiveStructure.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::string Export(const fs::path& hive) {
  int status = -1;
  std::string text = RegfExport(hive, &status);
  EXPECT_EQ(status, 0) << text;
  return text;
}

class HiveImageTest : public testing::Test {
 protected:
  HiveImageTest() {
    for (const char* name : {"hive", "file"}) {
      fs::copy(fs::path(CHECKLUM_SOURCE_DIR) / "examples" / "image", dir / name,
               fs::copy_options::recursive);
    }
    image = dir / "hive";
    hive = image / "C/WINDOWS/System32/config/SOFTWARE";
    EXPECT_TRUE(HiveFromRegistryFile(image / "HKLM.reg", hive));
    fs::remove(image / "HKLM.reg");
  }
  int Run(const std::string& arguments, std::string* output) {
    int status = -1;
    *output = CommandOutput(std::string(CHECKLUM_PROGRAM) + " " + arguments, &status);
    return status;
  }

  TempDir dir;
  fs::path image, hive;
};

TEST_F(HiveImageTest, TheRunChangesTheHiveAsItChangesHklmRegAndRestoreUndoesIt) {
  const std::string before = Export(hive);
  std::string output;
  ASSERT_EQ(Run("'" + image.string() + "'", &output), 0) << output;
  EXPECT_FALSE(fs::exists(image / "HKLM.reg"));
  const std::string after = Export(hive);
  EXPECT_NE(after, before);

  // The same run over HKLM.reg, its result carried into a hive the same way.
  ASSERT_EQ(Run("'" + (dir / "file").string() + "'", &output), 0) << output;
  const fs::path fromFile = dir / "from-file" / "SOFTWARE";
  ASSERT_TRUE(HiveFromRegistryFile(dir / "file" / "HKLM.reg", fromFile));
  EXPECT_EQ(after, Export(fromFile));

  ASSERT_EQ(Run("--restore '" + image.string() + "'", &output), 0) << output;
  EXPECT_EQ(Export(hive), before);
}

TEST_F(HiveImageTest, AHiveWindowsLeftDirtyIsRefusedAndNothingChanges) {
  std::string bytes = ReadAll(hive);
  bytes[8] ^= 1;  // the second sequence number: a write Windows never finished
  uint32_t sum = HiveHeaderChecksum(bytes);
  std::memcpy(bytes.data() + 508, &sum, 4);
  std::ofstream(hive, std::ios::binary | std::ios::trunc) << bytes;
  std::string output;
  EXPECT_EQ(Run("'" + image.string() + "'", &output), 2);
  EXPECT_NE(output.find("shut it down completely"), std::string::npos) << output;
  EXPECT_NE(output.find("Nothing has been changed"), std::string::npos) << output;
  EXPECT_EQ(ReadAll(hive), bytes);
  EXPECT_FALSE(fs::exists(image / "C/Setup/Backup"));
}

// --restore undoes the runs as they ran, with the options the image
// records: the hive of another Windows directory, not a new HKLM.reg; an
// option that says otherwise is refused, and so is a registry that is gone.
TEST_F(HiveImageTest, TheRestoreUndoesTheRunsAsTheyRan) {
  fs::rename(image / "C/WINDOWS", image / "C/WINNT");
  hive = image / "C/WINNT/System32/config/SOFTWARE";
  const std::string before = Export(hive);
  std::string output;
  ASSERT_EQ(Run("--windows-dir 'C:\\WINNT' '" + image.string() + "'", &output), 0) << output;
  const std::string migrated = ReadAll(hive);
  struct Case {
    const char* options;
    int status;
    const char* said;
  };
  const Case cases[] = {
      {"--oem-code-page 65001", 2, "were made with --oem-code-page 437"},
      {"--windows-dir 'C:\\WINDOWS'", 2, "were made with --windows-dir C:\\WINNT"},
      {"", 0, "1 registry undo file applied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    EXPECT_EQ(Run("--restore " + std::string(c.options) + " '" + image.string() + "'", &output),
              c.status);
    EXPECT_NE(output.find(c.said), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(image / "HKLM.reg"));
    if (c.status != 0) {
      EXPECT_EQ(ReadAll(hive), migrated);
    }
  }
  EXPECT_EQ(Export(hive), before);

  ASSERT_EQ(Run("'" + image.string() + "'", &output), 0) << output;
  fs::remove(hive);
  EXPECT_EQ(Run("--restore '" + image.string() + "'", &output), 2);
  EXPECT_NE(output.find("is not there"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(image / "HKLM.reg"));
  EXPECT_FALSE(fs::exists(image / "C/OLD/lum.ini"));
}

// A SOFTWARE hive as real Windows leaves it: the file longer than its bins
// (Windows grows it in large steps), with zeros or the bins of an earlier,
// larger hive after the last one. The run migrates it, and --restore
// brings its registry back.
TEST_F(HiveImageTest, AHiveLongerThanItsBinsMigratesAndComesBack) {
  const std::string bins = ReadAll(hive);
  for (const std::string& padding :
       {std::string(4096, '\0'), bins.substr(4096) + std::string(8192, '\0')}) {
    std::ofstream(hive, std::ios::binary | std::ios::trunc) << bins << padding;
    const std::string before = Export(hive);
    std::string output;
    ASSERT_EQ(Run("'" + image.string() + "'", &output), 0) << output;
    const std::string after = ReadAll(hive);
    EXPECT_EQ(CheckHiveStructure(after), "");
    EXPECT_GE(after.size(), bins.size() + padding.size());
    EXPECT_NE(Export(hive), before);
    ASSERT_EQ(Run("--restore '" + image.string() + "'", &output), 0) << output;
    EXPECT_EQ(Export(hive), before);
    fs::remove_all(image / "C/Setup/Backup");
    fs::remove_all(image / "C/Setup/Spool");
  }
}

// A record the run would read or change that is damaged, or a SOFTWARE
// that is no plain file, is found before anything changes.
TEST_F(HiveImageTest, AHiveTheRunCannotWriteIsRefusedBeforeAnythingMoves) {
  const std::string good = ReadAll(hive);
  const size_t root = 4096 + 0x20 + 4;  // the root key's record
  const size_t microsoft = good.find("Microsoft") - 0x4C;
  auto patched = [&](size_t at, const std::string& bytes) {
    std::string damaged = good;
    damaged.replace(at, bytes.size(), bytes);
    return damaged;
  };
  struct Case {
    const char* what;
    std::string bytes;
    const char* said;
  };
  const Case cases[] = {
      {"the root's subkey count", patched(root + 0x14, std::string("\x09", 1)), "is damaged"},
      {"a key's signature", patched(microsoft, "xk"), "is damaged"},
      {"the root's list offset", patched(root + 0x1C, "\x10\x00\x00\x00"), "is damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(hive, std::ios::binary | std::ios::trunc) << c.bytes;
    std::string output;
    EXPECT_EQ(Run("'" + image.string() + "'", &output), 2);
    EXPECT_NE(output.find(c.said), std::string::npos) << output;
    EXPECT_NE(output.find("Nothing has been changed"), std::string::npos) << output;
    EXPECT_EQ(ReadAll(hive), c.bytes);
    EXPECT_FALSE(fs::exists(image / "C/Setup/Backup"));
    EXPECT_FALSE(fs::exists(image / "HKLM.reg"));
  }
  const fs::path elsewhere = dir / "elsewhere-SOFTWARE";
  std::ofstream(elsewhere, std::ios::binary) << good;
  for (const char* kind : {"link", "folder", "fifo"}) {
    SCOPED_TRACE(kind);
    fs::remove_all(hive);
    const std::string made = kind;
    if (made == "link") fs::create_symlink(elsewhere, hive);
    if (made == "folder") fs::create_directory(hive);
    if (made == "fifo") {
      ASSERT_EQ(mkfifo(hive.c_str(), 0600), 0);
    }
    std::string output;
    EXPECT_EQ(Run("'" + image.string() + "'", &output), 2);
    EXPECT_NE(output.find("not a plain file"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(image / "C/Setup/Backup"));
    EXPECT_FALSE(fs::exists(image / "HKLM.reg"));
    EXPECT_EQ(ReadAll(elsewhere), good);
  }
}

}  // namespace
