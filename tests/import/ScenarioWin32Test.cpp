// Whole old installations, two machines: the import runs over the real
// Windows services (Wine's file system and registry, in a private folder and
// a private registry key) and over the emulated machine, and both must leave
// the same registry values, the same files, the same restore scripts and the
// same messages. On the real side cmd itself then runs the restore chain,
// which must bring back every file of the old installation.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <vector>

#include "app/CheckLUMDlg.h"
#include "platform/win32/EnvWin32.h"
#include "support/Scenario.h"

namespace fs = std::filesystem;

namespace {

// The real services, with the Windows directory and the program's path of
// the scenario, and message boxes recorded instead of shown.
class ScenarioEnvWin32 : public EnvWin32 {
 public:
  explicit ScenarioEnvWin32(std::string root) : root_(std::move(root)) {}
  bool WindowsDirectory(std::string* dir) override {
    *dir = root_ + "\\WINDOWS";
    return true;
  }
  bool ModuleFileName(std::string* path) override {
    *path = root_ + "\\Setup\\CheckLUM.exe";
    return true;
  }
  // Recorded as the Linux program's console shows them.
  void ShowMessage(const std::string& text, uint32_t) override {
    messages += "CheckLUM: " + text + "\n";
  }
  std::string messages;

 private:
  std::string root_;
};

// Files below the root (relative path -> content); "{ROOT}" stands for it.
using Tree = std::map<std::string, std::string>;

struct ScenarioCase {
  const char* name;
  Tree installation;
  // Registry values to compare: key below SOFTWARE\Tandrel\LUM, value name.
  std::vector<std::pair<std::string, std::string>> values;
  // Written before a second run, when not empty.
  Tree beforeSecondRun;
};

const char* const kPointer = "[Settings]\r\nIni={ROOT}\\Old Files\\lum.ini\r\n";

std::string Job(const std::string& seqno, int dataFiles, const std::string& files) {
  return "[Settings]\r\nSeqno=" + seqno + "\r\nControlFileName=cfA" + seqno +
         "\r\nDataFiles=" + std::to_string(dataFiles) + "\r\n[Files]\r\n" + files;
}

const std::vector<ScenarioCase>& Cases() {
  static const std::vector<ScenarioCase> cases = {
      {"general settings only",
       {{"WINDOWS\\lum.ini", kPointer},
        {"Old Files\\lum.ini",
         "[Settings]\r\nPort=515\r\nName=LUM 100%\r\nBig=4294967295\r\n"
         "[LogOptions]\r\nLogLevel=2\r\n[Security]\r\nCheckHosts=1\r\n"
         "[WindowPos]\r\nDesktop size=640,480\r\n"
         "[CurrentJobs]\r\n{ROOT}\\Old Files\\Q\\cf1.ini=1\r\n"},
        {"Old Files\\Q\\cf1.ini", "[Settings]\r\nControlFileName=J1\r\n"},
        {"Setup\\readme.txt", "new release\r\n"}},
       {{"", "Port"},
        {"", "Name"},
        {"", "Big"},
        {"", "LogLevel"},
        {"", "CheckHosts"},
        {"", "Desktop size"},
        {"", "Main"},
        {"CurrentJobs", "J1"}},
       {}},
      {"queues and jobs",
       {{"WINDOWS\\lum.ini", kPointer},
        {"Old Files\\lum.ini",
         "[Queues]\r\n1=Alpha\r\n2=Beta\r\n3=NoDir\r\n4=NoProfile\r\n5=Shared\r\n"
         "[Alpha]\r\nqueuedir={ROOT}\\Old Files\\A\r\ncfdir=C:\\CF\r\n"
         "[Beta]\r\nqueuedir={ROOT}\\Old Files\\B\\\r\n"
         "[NoDir]\r\nqueuedir={ROOT}\\Old Files\\Missing\r\n"
         "[NoProfile]\r\nqueuedir={ROOT}\\Old Files\\Empty\r\n"
         "[Shared]\r\nqueuedir={ROOT}\\Old Files\\A\r\n"},
        {"Old Files\\A\\queue.ini",
         "[Settings]\r\nType=1\r\nInsertBytes=2\r\n[Bytes]\r\nInsertBytes=1B 40\r\n"
         "ModeBytes=1B4\r\n[Margins]\r\nTop=5\r\nLeft=2.5\r\n"
         "[Font]\r\nFaceName=Courier New\r\nHeight=-13\r\n"},
        {"Old Files\\A\\cf1.ini", Job("1", 0, "")},
        {"Old Files\\A\\cf2.ini",
         Job("2", 1, "File1=ldfA2\r\ndfA2={ROOT}\\Old Files\\A\\dfA2\r\n")},
        {"Old Files\\A\\dfA2", "alpha data"},
        {"Old Files\\B\\queue.ini", "[Settings]\r\nType=2\r\n"},
        {"Old Files\\B\\cf3.ini",
         Job("3", 3,
             "File1=ldfA3\r\nData1={ROOT}\\Old Files\\B\\dfA3\r\nFile2=ldfB3\r\n"
             "Data2={ROOT}\\Old Files\\B\\dfB3\r\nFile3=ldfC3\r\n"
             "Data3={ROOT}\\Old Files\\B\\gone\r\n")},
        {"Old Files\\B\\dfA3", "beta one"},
        {"Old Files\\B\\dfB3", "beta two"},
        {"Old Files\\Empty\\readme.txt", "no queue here"},
        {"Setup\\readme.txt", "new release\r\n"}},
       {{"Queues\\Alpha", "Type"},        {"Queues\\Alpha", "bInsertBytes"},
        {"Queues\\Alpha", "InsertBytes"}, {"Queues\\Alpha", "ModeBytes"},
        {"Queues\\Alpha", "Top"},         {"Queues\\Alpha", "Left"},
        {"Queues\\Alpha", "cfdir"},       {"Queues\\Alpha", "Font"},
        {"Queues\\Alpha\\Jobs", "1"},     {"Queues\\Alpha\\Jobs", "2"},
        {"Queues\\Beta\\Jobs", "3"},      {"Jobs\\cfA1", "QueueName"},
        {"Jobs\\cfA2", "Data1"},          {"Jobs\\cfA2", "dfA2"},
        {"Jobs\\cfA3", "Data1"},          {"Jobs\\cfA3", "Data2"},
        {"Jobs\\cfA3", "Data3"},          {"Jobs\\cfA3", "DataFiles"},
        {"Queues\\NoDir", "Type"},        {"Queues\\Shared", "Type"}},
       {}},
      {"re-run over an installation without queues",
       {{"WINDOWS\\lum.ini", kPointer},
        {"Old Files\\lum.ini", "[Settings]\r\nPort=515\r\n"},
        {"Setup\\readme.txt", "new release\r\n"}},
       {{"", "Port"}},
       {{"WINDOWS\\lum.ini", kPointer}, {"Old Files\\lum.ini", "[Settings]\r\nPort=516\r\n"}}},
  };
  return cases;
}

std::string Substitute(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

void WriteTree(const fs::path& base, const std::string& root, const Tree& tree) {
  for (const auto& [relative, content] : tree) {
    fs::path file = base / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << Substitute(content, "{ROOT}", root);
  }
}

Tree ReadTree(const fs::path& base, const std::string& root) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(base)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = fs::relative(entry.path(), base).string();
    for (char& c : relative) {
      if (c == '/') c = '\\';
    }
    std::ifstream in(entry.path(), std::ios::binary);
    tree[relative] =
        Substitute(std::string(std::istreambuf_iterator<char>(in), {}), root, "{ROOT}");
  }
  return tree;
}

// Type and bytes of a value, or "(none)".
std::string ReadValue(Env& env, const std::string& keyPath, const std::string& name) {
  RegKey key = 0;
  if (env.OpenKey(kHKeyLocalMachine, keyPath.c_str(), &key) != 0) return "(no key)";
  uint32_t type = 0, size = 0;
  std::string result = "(none)";
  if (env.QueryValue(key, name.c_str(), &type, nullptr, &size) == 0) {
    std::string data(size, '\0');
    env.QueryValue(key, name.c_str(), &type, reinterpret_cast<uint8_t*>(data.data()), &size);
    data.resize(size);
    // Compared byte for byte: both registries store the NUL that follows text
    // written without one.
    result = std::to_string(type) + ":" + data;
  }
  env.CloseKey(key);
  return result;
}

struct Outcome {
  std::vector<bool> ok;  // per run
  Tree files;
  std::map<std::string, std::string> values;
  std::string messages;
};

// Runs the case (once, or twice with the second tree written in between),
// each run on the Env that `envForRun` gives, as a new process would have
// it, over the tree at `base` that the machine calls `root`.
Outcome Run(const ScenarioCase& c, const std::function<Env&()>& envForRun,
            const std::function<std::string()>& messages, const fs::path& base,
            const std::string& root) {
  Outcome outcome;
  WriteTree(base, root, c.installation);
  Env* env = nullptr;
  for (int run = 0; run < (c.beforeSecondRun.empty() ? 1 : 2); ++run) {
    if (run == 1) WriteTree(base, root, c.beforeSecondRun);
    env = &envForRun();
    CCheckLUMDlg dlg(*env);
    outcome.ok.push_back(dlg.RunWorkStep());
  }
  for (const auto& [key, name] : c.values) {
    std::string path = "SOFTWARE\\Tandrel\\LUM" + (key.empty() ? "" : "\\" + key);
    outcome.values[path + "|" + name] = Substitute(ReadValue(*env, path, name), root, "{ROOT}");
  }
  outcome.files = ReadTree(base, root);
  outcome.messages = Substitute(messages(), root, "{ROOT}");
  return outcome;
}

// cmd runs restore.bat, then restore.bat.N from the highest N down, in the
// backup directory. cmd runs only files named .bat or .cmd, so a kept script
// runs under such a name, as the README tells the user.
void RunRestoreChain(const std::string& backup) {
  std::vector<std::string> chain = {"restore.bat"};
  int kept = 0;
  while (fs::exists(backup + "\\restore.bat." + std::to_string(kept + 1))) ++kept;
  for (int n = kept; n >= 1; --n) chain.push_back("restore.bat." + std::to_string(n));
  for (const std::string& script : chain) {
    std::string command = "cmd.exe /c copy/y " + script + " chain.bat >nul & chain.bat";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, backup.c_str(), &startup, &process));
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  fs::remove(backup + "\\chain.bat");
}

Outcome RunOnWindows(const ScenarioCase& c) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string root =
      std::string(temp) + "checklum-scenario-" + std::to_string(GetCurrentProcessId());
  fs::remove_all(root);

  std::string keyPath = "Software\\CheckLUMScenario-" + std::to_string(GetCurrentProcessId());
  HKEY machine = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                  &machine, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);

  ScenarioEnvWin32 env(root);
  Outcome outcome = Run(
      c, [&]() -> Env& { return env; }, [&] { return env.messages; }, root, root);

  RunRestoreChain(root + "\\Setup\\Backup");
  Tree restored = ReadTree(root, root);
  for (const auto& [relative, content] : c.installation) {
    EXPECT_EQ(restored[relative], content) << relative << " after the restore chain";
  }

  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegCloseKey(machine);
  RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
  fs::remove_all(root);
  return outcome;
}

Outcome RunOnImage(const ScenarioCase& c) {
  Scenario s;
  const std::string root = "C:\\T";
  s.options.windowsDirectory = root + "\\WINDOWS";
  s.options.programPath = root + "\\Setup\\CheckLUM.exe";
  auto freshEnv = [&]() -> Env& {
    s.Reset();
    return s.env();
  };
  return Run(
      c, freshEnv, [&] { return s.Messages(); }, s.root / "C" / "T", root);
}

class ScenarioOnBothMachines : public testing::TestWithParam<size_t> {};

TEST_P(ScenarioOnBothMachines, SameRegistryFilesScriptsAndMessages) {
  const ScenarioCase& c = Cases()[GetParam()];
  SCOPED_TRACE(c.name);
  Outcome windows = RunOnWindows(c);
  Outcome image = RunOnImage(c);
  for (bool ok : windows.ok) EXPECT_TRUE(ok);
  EXPECT_EQ(windows.ok, image.ok);
  EXPECT_EQ(windows.values, image.values);
  EXPECT_EQ(windows.files, image.files);
  EXPECT_EQ(windows.messages, image.messages);
}

INSTANTIATE_TEST_SUITE_P(Installations, ScenarioOnBothMachines,
                         testing::Range<size_t>(0, Cases().size()));

TEST(ScenarioOnWindows, RestoreScriptOfTheSimplestRun) {
  Outcome windows = RunOnWindows(Cases()[0]);
  EXPECT_EQ(windows.files["Setup\\Backup\\restore.bat"],
            "copy/y winlum.ini {ROOT}\\WINDOWS\\lum.ini\r\n"
            "copy/y lum.ini \"{ROOT}\\Old Files\\lum.ini\"\r\n");
}

}  // namespace
