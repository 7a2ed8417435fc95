// The Linux program as a user runs it: over a copy of the example image,
// with its exit status, its output and what it leaves in the image.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "platform/portable/files/HostFile.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every file below `root` with its content; links as "-> target".
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string name = fs::relative(entry.path(), root).generic_string();
    if (entry.is_symlink()) {
      files[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      files[name] = ReadAll(entry.path());
    }
  }
  return files;
}

class CommandLineTest : public testing::Test {
 protected:
  CommandLineTest() : image(dir.path() / "image") {
    fs::copy(fs::path(CHECKLUM_SOURCE_DIR) / "examples" / "image", image,
             fs::copy_options::recursive);
  }

  Outcome Run(const std::string& arguments) {
    fs::path out = dir.path() / "out.txt", err = dir.path() / "err.txt";
    std::string command = std::string(CHECKLUM_PROGRAM) + " " + arguments + " >'" + out.string() +
                          "' 2>'" + err.string() + "'";
    int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(out), ReadAll(err)};
  }
  Outcome RunOnImage() { return Run("'" + image.string() + "'"); }

  TempDir dir;
  fs::path image;
};

TEST_F(CommandLineTest, ImportsTheExampleAndEndsWithOk) {
  Outcome run = RunOnImage();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Finished: the run ends with OK."), std::string::npos);
  EXPECT_TRUE(fs::exists(image / "C/Setup/Backup/restore.bat"));
}

TEST_F(CommandLineTest, SecondRunOnTheSameImageIsRefusedAndChangesNothing) {
  HostFolderLock firstRun;
  ASSERT_TRUE(firstRun.Acquire(image));
  auto before = Snapshot(image);
  Outcome run = RunOnImage();
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("is in use by another run"), std::string::npos) << run.err;
  EXPECT_EQ(Snapshot(image), before);
}

TEST_F(CommandLineTest, LinkedRegistryFileIsNeitherReadNorReplaced) {
  fs::path outside = dir.path() / "outside.reg";
  fs::rename(image / "HKLM.reg", outside);
  fs::create_symlink(outside, image / "HKLM.reg");
  std::string secret = ReadAll(outside);
  auto before = Snapshot(image);
  Outcome run = RunOnImage();
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("not a plain file"), std::string::npos) << run.err;
  EXPECT_EQ(Snapshot(image), before);
  EXPECT_TRUE(fs::is_symlink(image / "HKLM.reg"));
  EXPECT_EQ(ReadAll(outside), secret);
}

TEST_F(CommandLineTest, RegistryFileThatCannotBeReplacedStopsTheRunBeforeAnythingMoves) {
  if (geteuid() == 0) GTEST_SKIP() << "the superuser writes into read-only folders";
  fs::permissions(image, fs::perms::owner_write, fs::perm_options::remove);
  auto before = Snapshot(image);
  Outcome run = RunOnImage();
  fs::permissions(image, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("cannot be written"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Nothing has been changed."), std::string::npos) << run.err;
  EXPECT_EQ(Snapshot(image), before);
}

TEST_F(CommandLineTest, HelpSaysWhatEachExitStatusMeans) {
  Outcome run = Run("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("0 when the run ends with OK (also when the old installation\nholds "
                         "nothing to import)"),
            std::string::npos)
      << run.out;
  // A run with nothing to import does end with OK.
  fs::remove(image / "C/WINDOWS/lum.ini");
  fs::remove_all(image / "C/LUM");
  EXPECT_EQ(RunOnImage().status, 0);
}

TEST_F(CommandLineTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Run("").status, 2);
  EXPECT_EQ(Run("--bogus").status, 2);
  EXPECT_EQ(Run("'" + (dir.path() / "missing").string() + "'").status, 2);
}

}  // namespace
