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
#include <utility>
#include <vector>

#include "platform/portable/files/HostFile.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryTree.h"
#include "platform/portable/text/Text.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

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

// A registry file the reader cannot take stops the run before anything is
// touched, with the line and the reason, whatever the malformation.
TEST_F(CommandLineTest, MalformedRegistryFileChangesNothing) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"not a registry file", "REGEDIT5\r\n"},
      {"UTF-16 big-endian", std::string("\xFE\xFF\0R", 4)},
      {"ends inside a UTF-16 character", std::string("\xFF\xFER\0E", 5)},
      {"NUL character", "REGEDIT4\r\n" + key + std::string("\"a\"=\"\0\"\r\n", 8)},
      {"unrecognised line", "REGEDIT4\r\n" + key + "junk\r\n"},
      {"key line must end", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X\r\n"},
      {"only HKEY_LOCAL_MACHINE", "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n"},
      {"HKEY_LOCAL_MACHINE cannot be deleted", "REGEDIT4\r\n[-HKEY_LOCAL_MACHINE]\r\n"},
      {"key name too long", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\" + std::string(300, 'k') + "]\r\n"},
      {"value before the first key", "REGEDIT4\r\n\"a\"=\"b\"\r\n"},
      {"missing quote of a value name", "REGEDIT4\r\n" + key + "\"a=\"b\"\r\n"},
      {"missing quote of a string", "REGEDIT4\r\n" + key + "\"a\"=\"b\r\n"},
      {"text after a string", "REGEDIT4\r\n" + key + "\"a\"=\"b\" c\r\n"},
      {"text after -", "REGEDIT4\r\n" + key + "\"a\"=- c\r\n"},
      {"bad dword", "REGEDIT4\r\n" + key + "\"a\"=dword:123456789\r\n"},
      {"bad hex type", "REGEDIT4\r\n" + key + "\"a\"=hex(zz):00\r\n"},
      {"bad hex byte", "REGEDIT4\r\n" + key + "\"a\"=hex:0g\r\n"},
      {"ends after a continuation", "REGEDIT4\r\n" + key + "\"a\"=hex:00,\\\r\n"},
      {"unrecognised value data", "REGEDIT4\r\n" + key + "\"a\"=what\r\n"},
      {"value name too long",
       "REGEDIT4\r\n" + key + "\"" + std::string(17000, 'v') + "\"=\"b\"\r\n"},
  };
  for (const auto& [what, content] : files) {
    SCOPED_TRACE(what);
    std::ofstream(image / "HKLM.reg", std::ios::binary) << content;
    auto before = Snapshot(image);
    Outcome run = RunOnImage();
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("Nothing has been changed."), std::string::npos) << run.err;
    EXPECT_EQ(Snapshot(image), before);
  }
}

TEST_F(CommandLineTest, HelpSaysWhatEachExitStatusMeans) {
  Outcome run = Run("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("0 when everything found was carried over (also when there was\n"
                         "nothing to import)"),
            std::string::npos)
      << run.out;
  // A run with nothing to import does end with OK.
  fs::remove(image / "C/WINDOWS/lum.ini");
  fs::remove_all(image / "C/LUM");
  EXPECT_EQ(RunOnImage().status, 0);
}

// The example's registry as regedit exports it, in UTF-16LE, with keys,
// value names and text that code page 1252 cannot hold, and a comment, which
// a rewrite would drop.
std::string UnicodeRegistryFile(std::u16string_view more) {
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"; exported by hand\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
      u"LUM Print Spooler]\r\n"
      u"\"DisplayName\"=\"LUM Print Spooler 2.4\"\r\n"
      u"\"UninstallString\"=\"C:\\\\LUM\\\\UNINST.EXE -f C:\\\\LUM\\\\uninst.log\"\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\\u0416]\r\n"
      u"\"Name\"=\"\u4E2D\u6587\"\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\\u0424]\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Values]\r\n"
      u"\"\u0416\"=\"a\"\r\n"
      u"\"\u0424\"=\"b\"\r\n"
      u"\r\n";
  text += more;
  return "\xFF\xFE" + Utf16LeBytes(text);
}

std::shared_ptr<RegistryKeyNode> ParseFile(const fs::path& file) {
  auto root = std::make_shared<RegistryKeyNode>();
  std::string error;
  EXPECT_TRUE(ParseRegistryFile(ReadAll(file), root.get(), &error)) << error;
  return root;
}

// A run that imports rewrites the registry file. Keys and values whose names
// code page 1252 cannot hold stay apart, their text stays whole, and the file
// stays UTF-16LE.
TEST_F(CommandLineTest, UnicodeRegistryTextSurvivesARun) {
  std::ofstream(image / "HKLM.reg", std::ios::binary) << UnicodeRegistryFile(u"");
  Outcome run = RunOnImage();
  EXPECT_EQ(run.status, 0) << run.err;
  std::string saved = ReadAll(image / "HKLM.reg");
  EXPECT_TRUE(
      saved.starts_with("\xFF\xFE" + Utf16LeBytes(u"Windows Registry Editor Version 5.00\r\n")));
  auto root = ParseFile(image / "HKLM.reg");
  bool created = false;
  RegistryKeyNode* vendor = root->AddSubkey(u"SOFTWARE", &created)->AddSubkey(u"Vendor", &created);
  EXPECT_FALSE(created);
  EXPECT_EQ(vendor->subkeys.size(), 3u);
  RegistryKeyNode* zhe = vendor->FindSubkey(u"\u0416");
  ASSERT_NE(zhe, nullptr);
  EXPECT_NE(vendor->FindSubkey(u"\u0424"), nullptr);
  ASSERT_NE(zhe->FindValue(u"Name"), nullptr);
  EXPECT_EQ(zhe->FindValue(u"Name")->data, Utf16LeBytes(u"\u4E2D\u6587") + std::string(2, '\0'));
  RegistryKeyNode* values = vendor->FindSubkey(u"Values");
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(values->values.size(), 2u);
  ASSERT_NE(values->FindValue(u"\u0416"), nullptr);
  EXPECT_EQ(values->FindValue(u"\u0416")->data, Utf16LeBytes(u"a") + std::string(2, '\0'));
  ASSERT_NE(values->FindValue(u"\u0424"), nullptr);
  EXPECT_EQ(values->FindValue(u"\u0424")->data, Utf16LeBytes(u"b") + std::string(2, '\0'));
  // What the run imported is there too.
  EXPECT_NE(root->FindSubkey(u"software")->FindSubkey(u"tandrel"), nullptr);
}

// A second run on the same image declines to import, because the first one
// imported queues already. It stores nothing the registry does not hold, so
// the file is not rewritten at all: a comment added after the first run, which
// a rewrite would drop, is still there, and so is the file's time. Without
// the new uninstaller beside the program, the second run hands the old
// uninstall command over again: the product key holds it already.
TEST_F(CommandLineTest, ADeclinedRunLeavesTheRegistryFileAsItWas) {
  fs::remove(image / "C/Setup/dellum.exe");
  std::ofstream(image / "HKLM.reg", std::ios::binary) << UnicodeRegistryFile(u"");
  Outcome first = RunOnImage();
  ASSERT_EQ(first.status, 0) << first.err;
  std::ofstream(image / "HKLM.reg", std::ios::binary | std::ios::app)
      << Utf16LeBytes(u"; checked after the first run\r\n");
  const std::string file = ReadAll(image / "HKLM.reg");
  auto before = fs::last_write_time(image / "HKLM.reg");
  Outcome second = RunOnImage();
  EXPECT_EQ(second.status, 1) << second.err;
  EXPECT_NE(second.out.find("the run ends with Cancel"), std::string::npos) << second.out;
  EXPECT_EQ(ReadAll(image / "HKLM.reg"), file);
  EXPECT_EQ(fs::last_write_time(image / "HKLM.reg"), before);
}

TEST_F(CommandLineTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Run("").status, 2);
  EXPECT_EQ(Run("--bogus").status, 2);
  EXPECT_EQ(Run("'" + (dir.path() / "missing").string() + "'").status, 2);
  // The OEM code page is one the emulated machine knows, or the run does
  // not start.
  auto before = Snapshot(image);
  for (std::string value : {"850", "1252", "65001x", "''", "-1", "4294967733"}) {
    SCOPED_TRACE(value);
    Outcome run = Run("--oem-code-page " + value + " '" + image.string() + "'");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--oem-code-page needs a code page: 437 or 65001"), std::string::npos)
        << run.err;
  }
  Outcome last = Run("'" + image.string() + "' --oem-code-page");
  EXPECT_EQ(last.status, 2);
  EXPECT_NE(last.err.find("--oem-code-page needs a code page"), std::string::npos) << last.err;
  EXPECT_EQ(Run("--oem-code-page 850 --restore '" + image.string() + "'").status, 2);
  EXPECT_EQ(Snapshot(image), before);
}

// A queue whose directory holds the euro sign and whose job's names hold the
// S with caron, two characters of code page 1252 that code page 437 lacks:
// the profiles name them in code page 1252, the image's host names in UTF-8.
class OemCodePageTest : public CommandLineTest {
 protected:
  OemCodePageTest() {
    fs::path main = image / "C/LUM/lum.ini";
    std::string text = ReadAll(main);
    const std::string last = "Queue3=Archive\r\n";
    text.replace(text.find(last), last.size(), last + "Queue4=\x80URO\r\n");
    text += "[\x80URO]\r\nqueuedir=C:\\LUM\\QUEUES\\\x80uro\r\n";
    WriteAll(main, text);
    WriteAll(queue / "queue.ini", kQueueProfile);
    WriteAll(queue / "cf\xC5\xA0job.ini", kJobProfile);
    WriteAll(queue / "df\xC5\xA0job", "data");
  }

  static constexpr const char* kQueueProfile = "[Settings]\r\nDescription=Prices\r\nType=1\r\n";
  static constexpr const char* kJobProfile =
      "[Settings]\r\nSeqno=1\r\nControlFileName=cfA1euro\r\nDataFiles=1\r\n"
      "[Files]\r\nFile1=ldf\x8Ajob\r\nData1=C:\\LUM\\QUEUES\\\x80uro\\df\x8Ajob\r\n";
  const fs::path queue = image / "C/LUM/QUEUES/\xE2\x82\xACuro";
  const fs::path backup = image / "C/Setup/Backup";
};

// Code page 437 cannot name those files in restore.bat: the profiles stay
// where they are, the data file is not spooled, and the user is told; the
// run did not carry everything over (3).
TEST_F(OemCodePageTest, UnderCodePage437FilesItCannotNameStay) {
  Outcome run = RunOnImage();
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(ReadAll(queue / "queue.ini"), kQueueProfile);
  EXPECT_EQ(ReadAll(queue / "cf\xC5\xA0job.ini"), kJobProfile);
  EXPECT_FALSE(fs::exists(image / "C/Setup/Spool/df\xC5\xA0job"));
  for (const char* name : {"queue.ini", "cf\x8Ajob.ini", "df\x8Ajob"}) {
    EXPECT_NE(run.err.find("C:\\LUM\\QUEUES\\\x80uro\\" + std::string(name) +
                           " stays where it is: restore.bat could not name it"),
              std::string::npos)
        << name << "\n"
        << run.err;
  }
  std::string script = ReadAll(backup / "restore.bat");
  EXPECT_EQ(script.find("uro\\"), std::string::npos) << script;
  EXPECT_NE(script.find("copy/y ALPHA C:\\LUM\\QUEUES\\ALPHA\\queue.ini\r\n"), std::string::npos)
      << script;
}

// Under UTF-8, restore.bat names every file: they move as any other, the
// script's lines are UTF-8 throughout, and --restore, reading them in the
// same code page, puts every file back. The dry run goes by the code page
// too.
TEST_F(OemCodePageTest, UnderUtf8EveryFileMovesAndComesBack) {
  Outcome dry = Run("--oem-code-page 65001 --dry-run '" + image.string() + "'");
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_NE(dry.out.find("file deleted    C:\\LUM\\QUEUES\\\x80uro\\queue.ini\n"),
            std::string::npos)
      << dry.out;
  EXPECT_EQ(dry.err.find("stays where it is"), std::string::npos) << dry.err;
  EXPECT_EQ(ReadAll(queue / "queue.ini"), kQueueProfile);

  const auto before = Snapshot(image / "C/LUM");
  Outcome run = Run("--oem-code-page 65001 '" + image.string() + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("stays where it is"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(queue / "queue.ini"));
  EXPECT_FALSE(fs::exists(queue / "cf\xC5\xA0job.ini"));
  EXPECT_EQ(ReadAll(backup / "\xE2\x82\xACURO"), kQueueProfile);
  EXPECT_EQ(ReadAll(backup / "\xE2\x82\xACURO-1"), kJobProfile);
  EXPECT_EQ(ReadAll(image / "C/Setup/Spool/df\xC5\xA0job"), "data");

  std::string script = ReadAll(backup / "restore.bat");
  EXPECT_EQ(FirstMalformedUtf8(script), std::string::npos) << script;
  for (const char* line : {
           "copy/y \xE2\x82\xACURO C:\\LUM\\QUEUES\\\xE2\x82\xACuro\\queue.ini\r\n",
           "copy/y \xE2\x82\xACURO-1 C:\\LUM\\QUEUES\\\xE2\x82\xACuro\\cf\xC5\xA0job.ini\r\n",
           "copy/y \"C:\\Setup\\Spool\\df\xC5\xA0job\" "
           "\"C:\\LUM\\QUEUES\\\xE2\x82\xACuro\\df\xC5\xA0job\"\r\n",
       }) {
    EXPECT_NE(script.find(line), std::string::npos) << line << "\n" << script;
  }

  Outcome restore = Run("--oem-code-page 65001 --restore '" + image.string() + "'");
  EXPECT_EQ(restore.status, 0) << restore.err;
  EXPECT_EQ(Snapshot(image / "C/LUM"), before);
}

}  // namespace
