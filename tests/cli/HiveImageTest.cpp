// The Linux program over an image whose registry is its SOFTWARE hive: the
// example machine with the contents of its HKLM.reg carried into a hive
// built in code, and no HKLM.reg. The run makes the same changes as over
// HKLM.reg, --restore brings the hive's registry back, and a hive Windows
// left dirty is refused with nothing changed. libregf's regfexport, a
// reader of its own, is the judge.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/hive/HiveHeader.h"
#include "support/CommandOutput.h"
#include "support/HiveImage.h"
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

}  // namespace
