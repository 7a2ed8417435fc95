// The uninstall hand-over over the emulated machine's registry.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/EnvWrapper.h"
#include "platform/WinError.h"
#include "support/Scenario.h"
#include "uninstall/UninstallHandOver.h"

namespace {

constexpr const char* kProduct = "SOFTWARE\\Tandrel\\LUM";

class HandOverTest : public ::testing::Test {
 protected:
  HandOverTest() { s.Write("C:\\Setup\\dellum.exe", "uninstaller"); }
  // An entry of the list of installed programs with `command`.
  void Entry(const std::string& name, const std::string& command) {
    std::string path = std::string(kUninstallKeyPath) + "\\" + name;
    s.CreateKey(path);
    RegKey key = 0;
    ASSERT_EQ(s.env().OpenKey(kHKeyLocalMachine, path.c_str(), &key), 0u);
    s.env().SetValue(key, "UninstallString", kRegSz,
                     reinterpret_cast<const uint8_t*>(command.c_str()),
                     static_cast<uint32_t>(command.size() + 1));
    s.env().CloseKey(key);
  }
  std::optional<RegValue> Command(const std::string& name) {
    return s.Value(std::string(kUninstallKeyPath) + "\\" + name, "UninstallString");
  }
  std::optional<RegValue> Kept() { return s.Value(kProduct, "UninstallString"); }
  static RegValue Text(const std::string& text) { return {kRegSz, text + '\0'}; }
  Scenario s;
};

TEST_F(HandOverTest, EntryNamesTheNewUninstallerAndTheOldCommandIsKept) {
  Entry("LUM Print Spooler", "C:\\LUM\\UNINST.EXE -f C:\\LUM\\uninst.log");
  EXPECT_EQ(HandOverUninstallEntry(s.env()), 1);
  EXPECT_EQ(Command("LUM Print Spooler"), Text("C:\\Setup\\dellum.exe"));
  EXPECT_EQ(Kept(), Text("C:\\LUM\\UNINST.EXE -f C:\\LUM\\uninst.log"));
  // A second run finds the entry handed over and keeps the saved command.
  EXPECT_EQ(HandOverUninstallEntry(s.env()), 0);
  EXPECT_EQ(Kept(), Text("C:\\LUM\\UNINST.EXE -f C:\\LUM\\uninst.log"));
}

TEST_F(HandOverTest, ThirtyCharacterCommandIsKeptWithItsNul) {
  std::string command(30, 'c');
  Entry("LUM", command);
  EXPECT_EQ(HandOverUninstallEntry(s.env()), 1);
  ASSERT_TRUE(Kept().has_value());
  EXPECT_EQ(Kept()->data.size(), 31u);
}

TEST_F(HandOverTest, OnlyTheLastEntryBeginningWithLumCounts) {
  Entry("LUM 1", "C:\\OLD1\\uninst.exe");
  Entry("LUM 2", "");  // the last one, with no command: nothing is done
  EXPECT_EQ(HandOverUninstallEntry(s.env()), 0);
  EXPECT_EQ(Command("LUM 1"), Text("C:\\OLD1\\uninst.exe"));
  EXPECT_FALSE(Kept().has_value());
}

TEST_F(HandOverTest, NamesAreMatchedByTheirFirstThreeCapitals) {
  Entry("lum spooler", "C:\\x.exe");
  Entry("Lum spooler", "C:\\y.exe");
  EXPECT_EQ(HandOverUninstallEntry(s.env()), 0);
  EXPECT_FALSE(Kept().has_value());
  Entry("LUMINA", "C:\\z.exe");  // any name whose first three characters are LUM
  EXPECT_EQ(HandOverUninstallEntry(s.env()), 1);
  EXPECT_EQ(Kept(), Text("C:\\z.exe"));
}

// The short form may spell the uninstaller in capitals: an earlier hand-over
// is still recognised, so the saved command is never replaced.
TEST_F(HandOverTest, EarlierHandOverIsRecognisedInAnyLetterCase) {
  Entry("LUM", "C:\\SETUP\\DELLUM.EXE");
  s.CreateKey(kProduct);
  EXPECT_EQ(HandOverUninstallEntry(s.env()), 0);
  EXPECT_FALSE(Kept().has_value());
  EXPECT_EQ(Command("LUM"), Text("C:\\SETUP\\DELLUM.EXE"));
}

// Without the uninstaller there is no short path to name: the entry keeps
// its working command (which is already saved).
TEST_F(HandOverTest, MissingUninstallerLeavesTheEntryAlone) {
  s.env();  // made before the file goes
  Entry("LUM", "C:\\LUM\\uninst.exe");
  ASSERT_TRUE(std::filesystem::remove(s.root / "C" / "Setup" / "dellum.exe"));
  EXPECT_EQ(HandOverUninstallEntry(s.env()), 0);
  EXPECT_EQ(Command("LUM"), Text("C:\\LUM\\uninst.exe"));
  EXPECT_EQ(Kept(), Text("C:\\LUM\\uninst.exe"));
}

TEST_F(HandOverTest, CommandTooLongForItsBufferIsLeftAlone) {
  Entry("LUM", std::string(300, 'x'));
  EXPECT_EQ(HandOverUninstallEntry(s.env()), 0);
  EXPECT_FALSE(Kept().has_value());
}

// Windows leaves the buffer of a read that did not fit undefined; here it is
// filled with the first bytes of the command, as if the read had begun.
class PartialReads : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  uint32_t QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                      uint32_t* size) override {
    uint32_t rc = EnvWrapper::QueryValue(key, name, type, data, size);
    if (rc == kErrorMoreData && data != nullptr) std::memset(data, 'x', 255);
    return rc;
  }
};

TEST_F(HandOverTest, ACommandThatDidNotFitIsNotTakenFromTheBuffer) {
  Entry("LUM", std::string(300, 'x'));
  PartialReads env(s.env());
  EXPECT_EQ(HandOverUninstallEntry(env), 0);
  EXPECT_FALSE(Kept().has_value());
  EXPECT_EQ(Command("LUM"), Text(std::string(300, 'x')));
}

// A volume without 8.3 names: the short path is the long one.
class NoShortNames : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  bool ModuleFileName(std::string* path) override {
    *path = "C:\\Program Files\\LUM\\CheckLUM.exe";
    return true;
  }
  bool ShortPathName(const std::string& longPath, std::string* shortPath) override {
    *shortPath = longPath;
    return true;
  }
};

TEST_F(HandOverTest, ACommandWithABlankIsQuotedAndStillRecognisedLater) {
  Entry("LUM", "C:\\LUM\\uninst.exe");
  NoShortNames env(s.env());
  EXPECT_EQ(HandOverUninstallEntry(env), 1);
  EXPECT_EQ(Command("LUM"), Text("\"C:\\Program Files\\LUM\\dellum.exe\""));
  EXPECT_EQ(HandOverUninstallEntry(env), 0);
  EXPECT_EQ(Kept(), Text("C:\\LUM\\uninst.exe"));
}

TEST_F(HandOverTest, NoEntryNoWork) {
  EXPECT_EQ(HandOverUninstallEntry(s.env()), 0);
  EXPECT_FALSE(s.KeyExists(kProduct));
}

}  // namespace
