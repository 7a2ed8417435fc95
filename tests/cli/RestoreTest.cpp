// The way back and the record of a run, on every old installation of the
// scenario tests: run, then --restore, gives back the image of before, files
// and registry alike (Backup and Spool stay, as after restore.bat);
// --dry-run leaves the image byte for byte as it was; --report gives the
// log's facts as JSON.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/RunReport.h"
#include "support/Installations.h"
#include "support/Scenario.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Every file of the image, byte for byte.
std::map<std::string, std::string> AllFiles(const fs::path& image) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(image)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[fs::relative(entry.path(), image).generic_string()] =
        std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

// The files of drive C: but the import's own Backup and Spool.
std::map<std::string, std::string> OldFiles(const fs::path& image) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(image / "C")) {
    std::string name = fs::relative(entry.path(), image).generic_string();
    if (!entry.is_regular_file() || name.rfind("C/Setup/Backup/", 0) == 0 ||
        name.rfind("C/Setup/Spool/", 0) == 0) {
      continue;
    }
    std::ifstream in(entry.path(), std::ios::binary);
    files[name] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

// A copy of the example installation in `dir`.
fs::path ExampleImage(const TempDir& dir) {
  fs::path image = dir.path() / "image";
  fs::copy(fs::path(CHECKLUM_SOURCE_DIR) / "examples" / "image", image,
           fs::copy_options::recursive);
  return image;
}

int RunProgram(const std::string& arguments) {
  bool redirected = arguments.find('>') != std::string::npos;
  std::string command = std::string(CHECKLUM_PROGRAM) + " " + arguments +
                        (redirected ? " 2>/dev/null" : " >/dev/null 2>&1");
  int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

class RestoreTest : public testing::TestWithParam<size_t> {
 protected:
  // The installation as an image in `dir`, its uninstall entries in HKLM.reg.
  fs::path WriteImage(const TempDir& dir, const Installation& installation) {
    fs::path image = dir.path() / "image";
    WriteTree(image / "C", installation.files);
    fs::create_directories(image / "C" / "WINDOWS");
    WriteAll(image / "HKLM.reg", UninstallEntriesFile(installation));
    return image;
  }
};

TEST_P(RestoreTest, DryRunSaysWhatARunWouldDoAndChangesNothing) {
  const Installation& installation = Installations()[GetParam()];
  SCOPED_TRACE(installation.name);
  TempDir dir;
  fs::path image = WriteImage(dir, installation);
  const auto before = AllFiles(image);
  fs::path out = dir.path() / "out.txt";
  EXPECT_NE(RunProgram("--dry-run '" + image.string() + "' >'" + out.string() + "'"), 2);
  EXPECT_EQ(AllFiles(image), before);
  std::string printed = ReadAll(out);
  EXPECT_NE(printed.find("result          "), std::string::npos) << printed;
  EXPECT_NE(printed.find("Dry run: "), std::string::npos) << printed;
  // What it prints is what the run then does.
  RunProgram("'" + image.string() + "'");
  std::string log = ReadAll(image / "C/Setup/Backup/CheckLUM.log");
  for (size_t at = 0; (at = log.find("\r\n")) != std::string::npos;) {
    EXPECT_NE(printed.find(log.substr(0, at) + "\n"), std::string::npos) << log.substr(0, at);
    log.erase(0, at + 2);
  }
}

TEST_P(RestoreTest, RunThenRestoreGivesBackTheImageOfBefore) {
  const Installation& installation = Installations()[GetParam()];
  SCOPED_TRACE(installation.name);
  TempDir dir;
  fs::path image = WriteImage(dir, installation);
  auto files = OldFiles(image);
  const std::string registry = RegistryContents(image / "HKLM.reg");
  std::string quoted = "'" + image.string() + "'";

  RunProgram(quoted);
  if (!installation.beforeSecondRun.empty()) {
    // The chain undoes both runs: a file comes back as the first run found
    // it, one that only the second run found as the second run found it.
    WriteTree(image / "C", installation.beforeSecondRun);
    for (const auto& [relative, content] : installation.beforeSecondRun) {
      files.emplace("C/" + TreePath(relative).generic_string(), WithRoot(content, "C:"));
    }
    RunProgram(quoted);
  }
  EXPECT_NE(OldFiles(image), files) << "the run changed nothing";
  EXPECT_EQ(RunProgram("--restore " + quoted), 0);
  EXPECT_EQ(OldFiles(image), files);
  EXPECT_EQ(RegistryContents(image / "HKLM.reg"), registry);
}

INSTANTIATE_TEST_SUITE_P(Installations, RestoreTest,
                         testing::Range<size_t>(0, Installations().size()),
                         [](const testing::TestParamInfo<size_t>& info) {
                           std::string name = Installations()[info.param].name;
                           for (char& c : name)
                             c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST(RestoreCommandTest, RefusesLinesThatReachOutsideTheImageAndSaysWhy) {
  TempDir dir;
  fs::path image = dir.path() / "image";
  WriteAll(image / "C/Setup/Backup/restore.bat",
           "copy/y a.ini \\\\server\\share\\a.ini\r\nrmdir /s C:\\\r\n"
           "copy/y \"b 100%%.ini\" C:\\OLD\\b.ini\r\n");
  WriteAll(image / "C/Setup/Backup/a.ini", "a");
  WriteAll(image / "C/Setup/Backup/b 100%.ini", "b");
  fs::create_directories(image / "C/OLD");
  std::string err = (dir.path() / "err.txt").string();
  std::string command = std::string(CHECKLUM_PROGRAM) + " --restore '" + image.string() +
                        "' >/dev/null 2>'" + err + "'";
  int raw = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 3);
  std::ifstream in(err);
  std::string messages(std::istreambuf_iterator<char>(in), {});
  EXPECT_NE(messages.find("line 1: copying C:\\Setup\\\\Backup\\a.ini to \\\\server\\share\\a.ini "
                          "would reach outside the image"),
            std::string::npos)
      << messages;
  EXPECT_NE(messages.find("line 2: not a copy line"), std::string::npos) << messages;
  std::ifstream restored(image / "C/OLD/b.ini");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(restored), {}), "b");
}

// A run on a machine with no old installation leaves lines for the files it
// looked for: they have nothing to restore, as cmd reports "cannot find the
// file" and goes on, and --restore succeeds. A last line without its line
// end never completed; the move it stood for never happened.
TEST(RestoreCommandTest, LinesWithNothingToRestoreAndATornLastLineAreNoFailure) {
  TempDir dir;
  fs::path image = dir.path() / "image";
  WriteAll(image / "C/Setup/Backup/restore.bat",
           "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\ncopy/y lum.ini C:\\OLD\\lum.ini\r\n"
           "copy/y a.ini C:\\OLD\\a.ini\r\ncopy/y a.ini C:\\OLD\\a");
  WriteAll(image / "C/Setup/Backup/a.ini", "a");
  fs::create_directories(image / "C/WINDOWS");
  fs::create_directories(image / "C/OLD");
  std::string out = (dir.path() / "out.txt").string();
  EXPECT_EQ(RunProgram("--restore '" + image.string() + "' >'" + out + "'"), 0);
  std::ifstream in(out);
  std::string summary(std::istreambuf_iterator<char>(in), {});
  EXPECT_NE(summary.find("1 file copied back by 1 restore script, 0 registry undo files "
                         "applied; 2 lines named files that were never there; 0 lines not "
                         "carried out"),
            std::string::npos)
      << summary;
  EXPECT_TRUE(fs::exists(image / "C/OLD/a.ini"));
  EXPECT_FALSE(fs::exists(image / "C/OLD/a"));
  EXPECT_FALSE(fs::exists(image / "C/OLD/lum.ini"));
}

// An image may come from a machine nobody trusts: --restore reads no file
// that is not a plain one inside the image, and neither hangs nor aborts on
// a folder, a FIFO or a device where a file should be. A refused HKLM.reg
// makes the image unusable (2); a script that is a folder cannot be read,
// so not everything is restored (3); a link or a FIFO in Backup is no entry
// of the image at all, so the chain goes on without it (0).
TEST(RestoreCommandTest, HostileFilesAreRefusedNotFollowed) {
  TempDir dir;
  WriteAll(dir.path() / "secret.reg",
           "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"pw\"=\"hunter2\"\r\n");
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> plant;
    int status;
  };
  const std::vector<Case> cases = {
      {"HKLM.reg a link out of the image",
       [&](const fs::path& image) {
         fs::create_symlink(dir.path() / "secret.reg", image / "HKLM.reg");
       },
       2},
      {"HKLM.reg a link to a device",
       [](const fs::path& image) { fs::create_symlink("/dev/zero", image / "HKLM.reg"); }, 2},
      {"HKLM.reg a FIFO", [](const fs::path& image) { mkfifo((image / "HKLM.reg").c_str(), 0600); },
       2},
      {"HKLM.reg a folder",
       [](const fs::path& image) { fs::create_directories(image / "HKLM.reg"); }, 2},
      {"restore.bat a folder",
       [](const fs::path& image) { fs::create_directories(image / "C/Setup/Backup/restore.bat"); },
       3},
      {"restore.bat a FIFO",
       [](const fs::path& image) { mkfifo((image / "C/Setup/Backup/restore.bat").c_str(), 0600); },
       0},
      {"restore.reg.1 a FIFO",
       [](const fs::path& image) {
         mkfifo((image / "C/Setup/Backup/restore.reg.1").c_str(), 0600);
       },
       0},
      {"restore.reg.1 a link out of the image",
       [&](const fs::path& image) {
         fs::create_symlink(dir.path() / "secret.reg", image / "C/Setup/Backup/restore.reg.1");
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path image = dir.path() / "image";
    fs::remove_all(image);
    WriteAll(image / "C/Setup/Backup/restore.reg", "REGEDIT4\r\n");
    if (std::string(c.name).rfind("HKLM.reg", 0) != 0) {
      WriteAll(image / "HKLM.reg", "REGEDIT4\r\n\r\n");
    }
    c.plant(image);
    std::string command = "timeout 20 " + std::string(CHECKLUM_PROGRAM) + " --restore '" +
                          image.string() + "' >/dev/null 2>&1";
    int raw = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status);
    // Nothing was written in its place, and nothing of the host file came in.
    fs::file_status status = fs::symlink_status(image / "HKLM.reg");
    if (fs::is_regular_file(status)) {
      std::ifstream registry(image / "HKLM.reg");
      std::string text(std::istreambuf_iterator<char>(registry), {});
      EXPECT_EQ(text.find("hunter2"), std::string::npos);
    }
    if (std::string(c.name).rfind("HKLM.reg a link", 0) == 0) {
      EXPECT_TRUE(fs::is_symlink(status));
    }
  }
}

// The summary and the messages say what happened: a missing folder inside
// the image is no way out of it, and an undo file that is refused (one
// faulty before its last entry, or with an entry of another root than
// HKEY_LOCAL_MACHINE, which no run writes) is not counted as applied; then
// no file is copied back either, since the registry would not match them.
TEST(RestoreCommandTest, MissingFoldersAndRefusedUndoFilesAreToldAsTheyAre) {
  TempDir dir;
  fs::path image = dir.path() / "image";
  WriteAll(image / "C/Setup/Backup/restore.bat", "copy/y a.ini C:\\NOWHERE\\a.ini\r\n");
  WriteAll(image / "C/Setup/Backup/a.ini", "a");
  WriteAll(image / "HKLM.reg", "REGEDIT4\r\n\r\n");
  for (const char* undo :
       {"REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHI\r\n\r\n[-X]\r\n",
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\"a\"=\"b\"\r\n", "REGEDIT4\r\n"}) {
    const bool refused = std::string(undo).size() > 10;
    SCOPED_TRACE(undo);
    WriteAll(image / "C/Setup/Backup/restore.reg", undo);
    std::string out = (dir.path() / "out.txt").string(), err = (dir.path() / "err.txt").string();
    std::string command = std::string(CHECKLUM_PROGRAM) + " --restore '" + image.string() + "' >'" +
                          out + "' 2>'" + err + "'";
    int raw = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, refused ? 2 : 3);
    std::ifstream outIn(out), errIn(err);
    std::string summary(std::istreambuf_iterator<char>(outIn), {});
    std::string messages(std::istreambuf_iterator<char>(errIn), {});
    EXPECT_EQ(messages.find("outside the image"), std::string::npos) << messages;
    EXPECT_EQ(messages.find("cannot be copied to C:\\NOWHERE\\a.ini: Path not found.") ==
                  std::string::npos,
              refused)
        << messages;
    EXPECT_EQ(messages.find("Nothing has been restored") != std::string::npos, refused) << messages;
    EXPECT_NE(
        summary.find(refused ? "0 registry undo files applied" : "1 registry undo file applied"),
        std::string::npos)
        << summary;
  }
}

// Hand-made lines follow cmd's rules or are refused: a path from the root of
// the current drive lands there, and an unquoted ^ or & (which cmd would
// take as an escape or an operator) refuses the line.
TEST(RestoreCommandTest, HandMadeLinesFollowCmdOrAreRefused) {
  TempDir dir;
  fs::path image = dir.path() / "image";
  WriteAll(image / "C/Setup/Backup/restore.bat",
           "copy/y a.ini \\x15\r\ncopy/y a.ini C:\\x8^&y\r\ncopy/y a.ini C:x16\r\n"
           "copy/y a.ini \"C:\\x8^&z\"\r\n");
  WriteAll(image / "C/Setup/Backup/a.ini", "a");
  std::string err = (dir.path() / "err.txt").string();
  std::string command = std::string(CHECKLUM_PROGRAM) + " --restore '" + image.string() +
                        "' >/dev/null 2>'" + err + "'";
  int raw = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 3);
  EXPECT_TRUE(fs::exists(image / "C/x15"));
  EXPECT_FALSE(fs::exists(image / "C/Setup/Backup/x15"));
  EXPECT_TRUE(fs::exists(image / "C/Setup/Backup/x16"));  // C: is the current drive
  EXPECT_TRUE(fs::exists(image / "C/x8^&z"));             // quoted: literal, as in cmd
  EXPECT_FALSE(fs::exists(image / "C/x8^&y"));
  EXPECT_NE(ReadAll(err).find("line 2: not a copy line"), std::string::npos) << ReadAll(err);
}

// The program keeps earlier files as NAME.1, NAME.2, ...: a name such as
// restore.bat.01 or restore.reg.007 is none of them, and is neither run nor
// taken for another.
TEST(RestoreCommandTest, OnlyKeptNumbersBelongToTheChain) {
  TempDir dir;
  fs::path image = dir.path() / "image";
  WriteAll(image / "C/Setup/Backup/restore.bat.1", "copy/y a.ini C:\\one\r\n");
  WriteAll(image / "C/Setup/Backup/restore.bat.01", "copy/y a.ini C:\\zero-one\r\n");
  WriteAll(image / "C/Setup/Backup/restore.reg.007", "not an undo file");
  WriteAll(image / "C/Setup/Backup/a.ini", "a");
  EXPECT_EQ(RunProgram("--restore '" + image.string() + "'"), 0);
  EXPECT_TRUE(fs::exists(image / "C/one"));
  EXPECT_FALSE(fs::exists(image / "C/zero-one"));
}

// Run, --restore; the old spooler prints ALPHA's job 123 (its profile and
// data file go) and a LASER2 job comes whose data file has the same name;
// run again, --restore again. The spooled copy the first run's way back
// names is ALPHA's only data: the second run leaves it, and everything
// comes back as it was before the second run.
TEST(RestoreCommandTest, ASpooledCopyAnEarlierWayBackNamesIsNeverReplaced) {
  TempDir dir;
  const fs::path image = ExampleImage(dir);
  const std::string quoted = "'" + image.string() + "'";
  const fs::path alpha = image / "C/LUM/QUEUES/ALPHA", laser = image / "C/LUM/QUEUES/LASER2";
  const std::string alphaData = ReadAll(alpha / "dfA123pcsales");
  ASSERT_EQ(RunProgram(quoted), 0);
  ASSERT_EQ(RunProgram("--restore " + quoted), 0);
  fs::remove(alpha / "cf123.ini");
  fs::remove(alpha / "dfA123pcsales");
  WriteAll(laser / "cf202.ini",
           "[Settings]\r\nSeqno=202\r\nControlFileName=cfA202acct01\r\nDataFiles=1\r\n[Files]\r\n"
           "File1=ldfA123pcsales\r\ndfA123pcsales=C:\\LUM\\QUEUES\\LASER2\\dfA123pcsales\r\n");
  WriteAll(laser / "dfA123pcsales", "the LASER2 job's data");
  EXPECT_EQ(RunProgram(quoted), 3);  // the LASER2 job keeps its data file's old path
  EXPECT_EQ(ReadAll(image / "C/Setup/Spool/dfA123pcsales"), alphaData);
  ASSERT_EQ(RunProgram("--restore " + quoted), 0);
  EXPECT_EQ(ReadAll(alpha / "dfA123pcsales"), alphaData);
  EXPECT_EQ(ReadAll(laser / "dfA123pcsales"), "the LASER2 job's data");
  EXPECT_TRUE(fs::exists(alpha / "cf123.ini"));
}

TEST(ReportTest, TextIsEscapedAndInUtf8) {
  EXPECT_EQ(RunReport::JsonString("a\"b\\c\r\n\x01\xe9\x80"),
            "\"a\\\"b\\\\c\\u000d\\u000a\\u0001\xc3\xa9\xe2\x82\xac\"");
}

TEST(ReportTest, HoldsEveryEventOfTheLogAndTheResult) {
  TempDir dir;
  const fs::path image = ExampleImage(dir);
  fs::path report = dir.path() / "report.json";
  EXPECT_EQ(RunProgram("--report '" + report.string() + "' '" + image.string() + "'"), 0);
  std::string json = ReadAll(report);
  std::string log = ReadAll(image / "C/Setup/Backup/CheckLUM.log");
  size_t lines = 0, events = 0;
  for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  for (size_t at = 0; (at = json.find("{\"event\": ", at)) != std::string::npos; ++at) ++events;
  EXPECT_EQ(events, lines);
  EXPECT_EQ(json.rfind("{\n  \"events\": [\n", 0), 0u);
  EXPECT_NE(json.find("\"result\": {\"ok\": true, \"outcome\": \"ok\", \"queues\": 3, \"jobs\": 3, "
                      "\"dataFiles\": 4, \"filesMoved\": 13}\n}\n"),
            std::string::npos)
      << json.substr(json.size() > 300 ? json.size() - 300 : 0);
  EXPECT_NE(json.find("\"subject\": \"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Tandrel\\\\LUM\""),
            std::string::npos);
}

// A run that ends before it has anything to report leaves an earlier
// report as it was, and no temporary file beside it.
// A report asked for and not written fails the command, after the run.
TEST(ReportTest, AReportThatCannotBeWrittenFailsTheCommand) {
  TempDir dir;
  const fs::path image = ExampleImage(dir);
  fs::path report = dir.path() / "report";
  WriteAll(report / "kept.txt", "a folder the report cannot take the place of");
  EXPECT_EQ(RunProgram("--report '" + report.string() + "' '" + image.string() + "'"), 4);
  EXPECT_TRUE(fs::exists(image / "C/Setup/Backup/lum.ini"));
}

// A run that did not finish (cut short, or its registry not saved) left
// files moved that the registry does not hold: the next run is refused
// until --restore has put the installation back.
TEST(RestoreCommandTest, ARunAfterAnUnfinishedOneIsRefusedUntilRestored) {
  TempDir dir;
  const fs::path image = ExampleImage(dir);
  const std::string quoted = "'" + image.string() + "'";
  ASSERT_EQ(RunProgram(quoted), 0);
  // As a run cut short leaves its record.
  std::string record = ReadAll(image / "CheckLUM.run");
  record.replace(record.find("run=finished"), 12, "run=unfinished");
  WriteAll(image / "CheckLUM.run", record);
  const std::string before = ReadAll(image / "HKLM.reg");
  EXPECT_EQ(RunProgram(quoted), 2);
  EXPECT_EQ(ReadAll(image / "HKLM.reg"), before);
  EXPECT_FALSE(fs::exists(image / "C/Setup/Backup/restore.bat.1"));
  EXPECT_EQ(RunProgram("--restore " + quoted), 0);
  EXPECT_EQ(RunProgram(quoted), 0);
}

TEST(ReportTest, RunThatEndsBeforeItsFirstEventKeepsAnEarlierReport) {
  TempDir dir;
  fs::path image = dir.path() / "image";
  WriteAll(image / "HKLM.reg", "not a registry file\r\n");
  fs::path report = dir.path() / "report.json";
  WriteAll(report, "{\"earlier\": true}\n");
  EXPECT_EQ(RunProgram("--report '" + report.string() + "' '" + image.string() + "'"), 2);
  EXPECT_EQ(ReadAll(report), "{\"earlier\": true}\n");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"image", "report.json"}));
}

// The dry run's scratch copy is the user's own: a folder nobody else can
// enter or read, made new for the run, and gone however the run ends, a
// SIGTERM included. Without a temporary folder the run says so.
TEST(DryRunTest, ScratchCopyIsPrivateAndNeverLeftBehind) {
  TempDir dir;
  fs::path image = dir.path() / "image", temporary = dir.path() / "tmp";
  std::string generate = "python3 '" + std::string(CHECKLUM_SOURCE_DIR) +
                         "/scripts/gen-installation' '" + image.string() + "' 4 400 2 2000";
  ASSERT_EQ(std::system(generate.c_str()), 0);
  std::string run = "TMPDIR='" + temporary.string() + "' " + CHECKLUM_PROGRAM + " --dry-run '" +
                    image.string() + "' >/dev/null 2>'" + (dir.path() / "err.txt").string() + "'";
  int raw = std::system(run.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
  EXPECT_NE(ReadAll(dir.path() / "err.txt").find("the temporary folder"), std::string::npos);

  fs::create_directories(temporary);
  std::string killed = "(" + run + " & sleep 0.5; for f in '" + temporary.string() +
                       "'/*; do stat -c %a \"$f\" >'" + (dir.path() / "mode.txt").string() +
                       "'; done; kill -TERM $!; wait)";
  std::system(killed.c_str());
  std::string mode = ReadAll(dir.path() / "mode.txt");
  EXPECT_TRUE(mode == "700\n" || mode == "") << mode;  // empty: the run was over already
  bool empty = false;
  for (int i = 0; i < 100 && !empty; ++i) {
    empty = fs::is_empty(temporary);
    if (!empty) std::system("sleep 0.1");
  }
  EXPECT_TRUE(empty) << "a copy of the image is left in " << temporary;
}

// A FIFO in the image is no obstacle to the dry run, as it is none to the
// real run (which never reads it).
TEST(DryRunTest, EndsAsTheRealRunDoesWithAFifoInTheImage) {
  TempDir dir;
  const fs::path image = ExampleImage(dir);
  ASSERT_EQ(mkfifo((image / "C" / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(RunProgram("--dry-run '" + image.string() + "'"), 0);
  EXPECT_EQ(RunProgram("'" + image.string() + "'"), 0);
}

}  // namespace
