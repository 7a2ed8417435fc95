// Both programs, end to end, on every old installation of the scenario tests:
// CheckLUM.exe runs under Wine in Xvfb on the installation copied into a
// fresh 64-bit Wine prefix (its uninstall entries imported with `reg import
// /reg:32` into the 32-bit view, where the old release, a 32-bit program,
// left them; the new uninstaller in the setup directory), and checklum runs
// on the same installation as an image. Both must leave the same registry
// contents (the Wine side exported from the 32-bit view, and nothing of the
// product in the 64-bit view) and the same Backup and Spool folders, restore
// scripts included.
//
// The Windows program is named by CHECKLUM_EXE (scripts/test sets it after
// the Windows build); without it the test is skipped. scripts/test runs
// this program as an ordinary user, so that read-only files bind under Wine
// as they do on Windows.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "support/Installations.h"
#include "support/RegistrySubtree.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Both machines keep the installation below C:\ and have C:\windows as their
// Windows directory, as a Wine prefix has. The keys that are compared:
const char* const kSoftware[] = {"SOFTWARE\\Tandrel",
                                 "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"};

// Every file below `folder`, relative path -> content.
std::map<std::string, std::string> Files(const fs::path& folder) {
  std::map<std::string, std::string> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), folder).generic_string()] = ReadAll(entry.path());
    }
  }
  return files;
}

int Shell(const std::string& command) {
  int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string Quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}

struct Outcome {
  std::map<std::string, std::string> registry;  // key -> its subtree
  std::map<std::string, std::string> backup, spool;
  std::vector<int> statuses;  // each run's exit status
};

class EndToEnd : public testing::TestWithParam<size_t> {
 protected:
  static void SetUpTestSuite() {
    const char* exe = std::getenv("CHECKLUM_EXE");
    if (exe == nullptr || *exe == '\0') return;
    program_ = fs::absolute(exe);
    // One prefix made ready once; each installation gets a copy of it. It is
    // a 64-bit Windows, where a 32-bit CheckLUM.exe runs in the 32-bit view.
    templates_ = new TempDir;
    prefix_ = templates_->path() / "prefix";
    int rc = Shell("WINEPREFIX=" + Quoted(prefix_) +
                   " WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' sh -c "
                   "'wineboot --init >/dev/null 2>&1; wineserver -w'");
    if (rc != 0 || !fs::exists(prefix_ / "drive_c" / "windows")) prefix_.clear();
  }
  static void TearDownTestSuite() {
    delete templates_;
    templates_ = nullptr;
  }

  Outcome RunPortable(const Installation& installation) {
    fs::path image = dir_.path() / "image";
    WriteTree(image / "C", installation.files, "windows");
    // HKEY_LOCAL_MACHINE\SOFTWARE is there on every Windows machine, so
    // restore.reg names the same topmost new key on both.
    WriteAll(image / "HKLM.reg",
             UninstallEntriesFile(installation) + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n");
    std::string run = std::string(CHECKLUM_PROGRAM) +
                      " --windows-dir 'C:\\windows' --program 'C:\\Setup\\CheckLUM.exe' " +
                      Quoted(image) + " >/dev/null 2>&1";
    Outcome outcome;
    outcome.statuses.push_back(Shell(run));
    if (!installation.beforeSecondRun.empty()) {
      WriteTree(image / "C", installation.beforeSecondRun, "windows");
      outcome.statuses.push_back(Shell(run));
    }
    std::string registry = ReadAll(image / "HKLM.reg");
    for (const char* key : kSoftware) outcome.registry[key] = RegistrySubtree(registry, key);
    outcome.backup = Files(image / "C" / "Setup" / "Backup");
    outcome.spool = Files(image / "C" / "Setup" / "Spool");
    return outcome;
  }

  // A copy of the prepared prefix with the installation on its drive C:, the
  // program in the setup directory and the uninstall entries imported; the
  // environment to run Wine in it.
  std::string PrepareWine(const Installation& installation, fs::path* drive) {
    fs::path prefix = dir_.path() / "prefix";
    fs::copy(prefix_, prefix, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    *drive = prefix / "drive_c";
    WriteTree(*drive, installation.files, "windows");
    fs::copy_file(program_, *drive / "Setup" / "CheckLUM.exe");
    WriteAll(dir_.path() / "entries.reg", UninstallEntriesFile(installation));
    std::string wine =
        "WINEPREFIX=" + Quoted(prefix) + " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
    // The import's wineserver has no display: it must be gone before the
    // program starts in its own.
    EXPECT_EQ(Shell(wine + "wine reg import " + Quoted(dir_.path() / "entries.reg") +
                    " /reg:32 >/dev/null 2>&1"),
              0);
    Shell(wine + "wineserver -w");
    return wine;
  }

  // The program runs in its own display; its message boxes (the caption is
  // the program's name) are answered with Enter as they come up. Its exit
  // status.
  int RunProgramOnWine(const std::string& wine) {
    std::string run = wine +
                      "timeout 120 xvfb-run -a sh -c '"
                      "wine \"C:\\\\Setup\\\\CheckLUM.exe\" >/dev/null 2>&1 & program=$!; "
                      "while kill -0 $program 2>/dev/null; do "
                      "xdotool search --name \"^CheckLUM$\" key --window %@ Return "
                      ">/dev/null 2>&1; sleep 0.2; done; wait $program; status=$?; "
                      "wineserver -w; exit $status'";
    return Shell(run);
  }

  // The compared keys as `reg export` writes them, from the 32-bit view or,
  // with `view` "64", from the 64-bit one.
  std::map<std::string, std::string> ExportRegistry(const std::string& wine,
                                                    const std::string& view = "32") {
    std::map<std::string, std::string> registry;
    for (const char* key : kSoftware) {
      fs::path exported = dir_.path() / "export.reg";
      fs::remove(exported);
      Shell(wine + "wine reg export 'HKLM\\" + key + "' " + Quoted(exported) + " /y /reg:" + view +
            " >/dev/null 2>&1");
      registry[key] = RegistrySubtree(fs::exists(exported) ? ReadAll(exported) : "", key);
    }
    return registry;
  }

  Outcome RunOnWine(const Installation& installation) {
    fs::path drive;
    std::string wine = PrepareWine(installation, &drive);
    Outcome outcome;
    outcome.statuses.push_back(RunProgramOnWine(wine));
    if (!installation.beforeSecondRun.empty()) {
      WriteTree(drive, installation.beforeSecondRun, "windows");
      outcome.statuses.push_back(RunProgramOnWine(wine));
    }
    outcome.registry = ExportRegistry(wine);
    // Nothing of the run reaches the 64-bit view, which the new release never reads.
    EXPECT_EQ(ExportRegistry(wine, "64")["SOFTWARE\\Tandrel"], "");
    Shell(wine + "wineserver -k >/dev/null 2>&1");
    outcome.backup = Files(drive / "Setup" / "Backup");
    outcome.spool = Files(drive / "Setup" / "Spool");
    return outcome;
  }

  TempDir dir_;
  static fs::path program_;
  static fs::path prefix_;
  static TempDir* templates_;
};

fs::path EndToEnd::program_;
fs::path EndToEnd::prefix_;
TempDir* EndToEnd::templates_ = nullptr;

TEST_P(EndToEnd, BothProgramsLeaveTheSameRegistryAndFiles) {
  if (program_.empty()) GTEST_SKIP() << "CHECKLUM_EXE names no Windows program";
  ASSERT_FALSE(prefix_.empty()) << "no Wine prefix could be made";
  const Installation& installation = Installations()[GetParam()];
  SCOPED_TRACE(installation.name);
  Outcome image = RunPortable(installation);
  Outcome wine = RunOnWine(installation);
  for (const char* key : kSoftware) {
    EXPECT_EQ(wine.registry[key], image.registry[key]) << key;
  }
  EXPECT_EQ(wine.backup, image.backup);
  EXPECT_EQ(wine.spool, image.spool);
  EXPECT_FALSE(image.backup.empty());
  // Both tell their caller the same.
  EXPECT_EQ(wine.statuses, image.statuses);
  EXPECT_EQ(image.statuses.front(), installation.status);
}

// The whole way back on Windows: run, then restore.bat with Wine's own cmd,
// then `reg import restore.reg`, gives back the machine of before.
TEST_P(EndToEnd, RestoreBatAndRegImportGiveBackTheMachineOfBefore) {
  if (program_.empty()) GTEST_SKIP() << "CHECKLUM_EXE names no Windows program";
  ASSERT_FALSE(prefix_.empty()) << "no Wine prefix could be made";
  if (GetParam() != 0) GTEST_SKIP() << "one installation, the representative, is enough";
  const Installation& installation = RepresentativeInstallation();
  fs::path drive;
  std::string wine = PrepareWine(installation, &drive);
  // The installation's own files, as WriteTree placed them.
  auto files = [&] {
    std::map<std::string, std::string> found;
    for (const auto& [relative, content] : installation.files) {
      fs::path path = drive / TreePath(relative, "windows");
      found[relative] = fs::exists(path) ? ReadAll(path) : "(missing)";
    }
    return found;
  };
  auto registry = ExportRegistry(wine);
  auto registry64 = ExportRegistry(wine, "64");
  auto installed = files();
  EXPECT_EQ(RunProgramOnWine(wine), installation.status);
  ASSERT_NE(files(), installed);
  EXPECT_EQ(Shell(wine + "wine cmd /c 'cd /d C:\\Setup\\Backup && restore.bat' >/dev/null 2>&1"),
            0);
  // The README says `reg import restore.reg /reg:32` from a 64-bit prompt.
  // Wine 8's reg applies the values of a file imported so in the 32-bit
  // view, but deletes its [-key] entries from the 64-bit view, where nothing
  // is to be deleted. So the file is imported as Windows would apply it:
  // every key below SOFTWARE named by its place in the 64-bit view,
  // SOFTWARE\WOW6432Node.
  std::string undo = ReadAll(drive / "Setup" / "Backup" / "restore.reg");
  for (const char* start :
       {"\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\", "\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\"}) {
    std::string line = start;
    for (size_t at = 0; (at = undo.find(line, at)) != std::string::npos; at += line.size()) {
      undo.insert(at + line.size(), "WOW6432Node\\");
    }
  }
  WriteAll(dir_.path() / "undo.reg", undo);
  EXPECT_EQ(
      Shell(wine + "wine reg import " + Quoted(dir_.path() / "undo.reg") + " >/dev/null 2>&1"), 0);
  EXPECT_EQ(ExportRegistry(wine), registry);
  EXPECT_EQ(ExportRegistry(wine, "64"), registry64);
  Shell(wine + "wineserver -k >/dev/null 2>&1");
  EXPECT_EQ(files(), installed);
}

// Read-only files (Wine, run by an ordinary user, takes a file without write
// permission for read-only, as Windows does): every INI file still moves and
// every data file is still spooled, exactly as on a machine without them,
// and the restore chain brings them all back.
TEST_P(EndToEnd, ReadOnlyFilesMoveAndComeBackLikeAnyOther) {
  if (program_.empty()) GTEST_SKIP() << "CHECKLUM_EXE names no Windows program";
  ASSERT_FALSE(prefix_.empty()) << "no Wine prefix could be made";
  if (GetParam() != 0) GTEST_SKIP() << "one installation, the representative, is enough";
  const Installation& installation = RepresentativeInstallation();
  Outcome image = RunPortable(installation);
  fs::path drive;
  std::string wine = PrepareWine(installation, &drive);
  for (const auto& [relative, content] : installation.files) {
    fs::permissions(drive / TreePath(relative, "windows"),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  std::map<std::string, std::string> installed;
  for (const auto& [relative, content] : installation.files) {
    installed[relative] = ReadAll(drive / TreePath(relative, "windows"));
  }
  EXPECT_EQ(RunProgramOnWine(wine), 0);
  auto backup = Files(drive / "Setup" / "Backup");
  // The log tells of the read-only attributes it cleared; the rest is the same.
  ASSERT_NE(backup.erase("CheckLUM.log"), 0u);
  image.backup.erase("CheckLUM.log");
  EXPECT_EQ(backup, image.backup);
  EXPECT_EQ(Files(drive / "Setup" / "Spool"), image.spool);
  EXPECT_EQ(Shell(wine + "wine cmd /c 'cd /d C:\\Setup\\Backup && restore.bat' >/dev/null 2>&1"),
            0);
  Shell(wine + "wineserver -k >/dev/null 2>&1");
  for (const auto& [relative, content] : installed) {
    fs::path path = drive / TreePath(relative, "windows");
    EXPECT_EQ(fs::exists(path) ? ReadAll(path) : "(missing)", content) << relative;
  }
}

// The dialog goes on answering through a long run: a probe in the same Wine
// session sends it WM_NULL every 100 ms and tries to close it, and every
// probe is answered within a second while the run goes on to its end. It
// holds off a logoff, and when the session ends anyway, its log says the
// run was cut short there.
TEST_P(EndToEnd, TheDialogAnswersThroughALongRunAndCannotBeClosed) {
  if (program_.empty()) GTEST_SKIP() << "CHECKLUM_EXE names no Windows program";
  ASSERT_FALSE(prefix_.empty()) << "no Wine prefix could be made";
  if (GetParam() != 0) GTEST_SKIP() << "one installation is enough";
  const char* probe = std::getenv("CHECKLUM_PROBE");
  if (probe == nullptr || *probe == '\0') GTEST_SKIP() << "CHECKLUM_PROBE names no probe";
  fs::path generated = dir_.path() / "generated";
  ASSERT_EQ(Shell(std::string(CHECKLUM_SOURCE_DIR) + "/scripts/gen-installation " +
                  Quoted(generated) + " 10 200 2 4096 >/dev/null"),
            0);
  fs::path prefix = dir_.path() / "prefix";
  fs::copy(prefix_, prefix, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  fs::path drive = prefix / "drive_c";
  fs::copy(generated / "C" / "LUM", drive / "LUM", fs::copy_options::recursive);
  fs::create_directories(drive / "Setup");
  fs::copy_file(generated / "C" / "WINDOWS" / "lum.ini", drive / "windows" / "lum.ini");
  fs::copy_file(program_, drive / "Setup" / "CheckLUM.exe");
  fs::copy_file(fs::absolute(probe), dir_.path() / "probe.exe");
  std::string wine =
      "WINEPREFIX=" + Quoted(prefix) + " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
  fs::path report = dir_.path() / "probe.txt";
  std::string run = wine + "PROBE=" + Quoted(dir_.path() / "probe.exe") +
                    " REPORT=" + Quoted(report) +
                    " timeout 300 xvfb-run -a sh -c '"
                    "wine \"C:\\\\Setup\\\\CheckLUM.exe\" >/dev/null 2>&1 & program=$!; "
                    "wine \"$PROBE\" >\"$REPORT\" 2>/dev/null; probe=$?; wait $program; "
                    "echo \"program: $?\" >>\"$REPORT\"; wineserver -w; exit $probe'";
  int rc = Shell(run);
  std::string said = fs::exists(report) ? ReadAll(report) : "(no report)";
  std::printf("%s", said.c_str());
  EXPECT_EQ(rc, 0) << said;
  // The run lasted long enough to prove something, and went on to its end.
  unsigned long answered = 0, unanswered = 0, slowest = 0, open = 0;
  ASSERT_EQ(std::sscanf(said.c_str() + std::min(said.size(), said.rfind("probe: ")),
                        "probe: %lu answered, %lu unanswered, slowest %lu ms, open %lu ms",
                        &answered, &unanswered, &slowest, &open),
            4)
      << said;
  EXPECT_GE(open, 10000u);
  EXPECT_EQ(unanswered, 0u);
  EXPECT_LT(slowest, 1000u);
  EXPECT_NE(said.find("logoff held off"), std::string::npos) << said;
  // Here the process outlives its session's end, and the run goes on to
  // its end; the log stops where the session ended.
  EXPECT_NE(said.find("program: 0"), std::string::npos) << said;
  std::string log = ReadAll(drive / "Setup" / "Backup" / "CheckLUM.log");
  EXPECT_NE(log.find("cut short       the session ended during the run"), std::string::npos)
      << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
  EXPECT_EQ(log.find("result "), std::string::npos);
}

// Where no one sees the window station, as when a deployment tool runs the
// setup as SYSTEM, the program shows no dialog and no message box: it ends
// by itself, keeps each message in its log, and its exit status tells how
// the run ended.
TEST_P(EndToEnd, UnattendedTheRunEndsByItselfAndLogsItsMessages) {
  if (program_.empty()) GTEST_SKIP() << "CHECKLUM_EXE names no Windows program";
  ASSERT_FALSE(prefix_.empty()) << "no Wine prefix could be made";
  const Installation& installation = Installations()[GetParam()];
  if (std::string(installation.name) != "queues and jobs") {
    GTEST_SKIP() << "one installation whose run shows messages is enough";
  }
  const char* probe = std::getenv("CHECKLUM_PROBE");
  if (probe == nullptr || *probe == '\0') GTEST_SKIP() << "CHECKLUM_PROBE names no probe";
  fs::path drive;
  std::string wine = PrepareWine(installation, &drive);
  fs::copy_file(fs::absolute(probe).parent_path() / "unattended_probe.exe",
                dir_.path() / "unattended.exe");
  // In a display where nobody answers: a box would wait for ever.
  std::string run = wine + "PROBE=" + Quoted(dir_.path() / "unattended.exe") +
                    " timeout 300 xvfb-run -a sh -c '"
                    "wine \"$PROBE\" \"C:\\\\Setup\\\\CheckLUM.exe\" 120; status=$?; "
                    "wineserver -w; exit $status'";
  EXPECT_EQ(Shell(run), installation.status);
  std::string log = ReadAll(drive / "Setup" / "Backup" / "CheckLUM.log");
  EXPECT_NE(log.find("message logged  Queue NoDir: directory"), std::string::npos) << log;
  EXPECT_EQ(log.find("message shown"), std::string::npos) << log;
  EXPECT_NE(log.find("result          OK, but not everything was carried over"), std::string::npos)
      << log;
}

INSTANTIATE_TEST_SUITE_P(Installations, EndToEnd,
                         testing::Range<size_t>(0, Installations().size()));

}  // namespace
