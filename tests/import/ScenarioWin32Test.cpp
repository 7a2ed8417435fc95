// One scenario, two machines: the import runs over the real Windows services
// (Wine's file system and registry, in a private folder and a private
// registry key) and over the emulated machine, and both must leave the same
// registry values, the same files and the same restore.bat. On the real side
// restore.bat is then run by cmd itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "app/CheckLUMDlg.h"
#include "platform/win32/EnvWin32.h"
#include "support/Scenario.h"

namespace fs = std::filesystem;

namespace {

// The real services, with the Windows directory and the program's path of
// the scenario.
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

 private:
  std::string root_;
};

// Files below the root (relative path -> content); "{ROOT}" stands for it.
using Tree = std::map<std::string, std::string>;

const Tree kInstallation = {
    {"WINDOWS\\lum.ini", "[Settings]\r\nIni={ROOT}\\Old Files\\lum.ini\r\n"},
    {"Old Files\\lum.ini",
     "[Settings]\r\nPort=515\r\nName=LUM 100%\r\nBig=4294967295\r\n"
     "[LogOptions]\r\nLogLevel=2\r\n[Security]\r\nCheckHosts=1\r\n"
     "[WindowPos]\r\nDesktop size=640,480\r\n"
     "[CurrentJobs]\r\n{ROOT}\\Old Files\\Q\\cf1.ini=1\r\n"},
    {"Old Files\\Q\\cf1.ini", "[Settings]\r\nControlFileName=J1\r\n"},
    {"Setup\\readme.txt", "new release\r\n"},
};

const std::vector<std::pair<std::string, std::string>> kValues = {
    {"SOFTWARE\\Tandrel\\LUM", "Port"},       {"SOFTWARE\\Tandrel\\LUM", "Name"},
    {"SOFTWARE\\Tandrel\\LUM", "Big"},        {"SOFTWARE\\Tandrel\\LUM", "LogLevel"},
    {"SOFTWARE\\Tandrel\\LUM", "CheckHosts"}, {"SOFTWARE\\Tandrel\\LUM", "Desktop size"},
    {"SOFTWARE\\Tandrel\\LUM", "Main"},       {"SOFTWARE\\Tandrel\\LUM\\CurrentJobs", "J1"},
};

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
  bool ok = false;
  Tree files;
  std::map<std::string, std::string> values;
};

Outcome RunOnWindows() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string root =
      std::string(temp) + "checklum-scenario-" + std::to_string(GetCurrentProcessId());
  fs::remove_all(root);
  WriteTree(root, root, kInstallation);

  std::string keyPath = "Software\\CheckLUMScenario-" + std::to_string(GetCurrentProcessId());
  HKEY machine = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                  &machine, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);

  Outcome outcome;
  ScenarioEnvWin32 env(root);
  {
    CCheckLUMDlg dlg(env);
    outcome.ok = dlg.RunWorkStep();
  }
  for (const auto& [key, name] : kValues)
    outcome.values[key + "|" + name] = ReadValue(env, key, name);
  outcome.files = ReadTree(root, root);

  // cmd itself runs restore.bat from the backup directory.
  std::string backup = root + "\\Setup\\Backup";
  std::string command = "cmd.exe /c restore.bat";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  EXPECT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, backup.c_str(), &startup, &process));
  WaitForSingleObject(process.hProcess, 60000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Tree restored = ReadTree(root, root);
  for (const auto& [relative, content] : kInstallation) {
    EXPECT_EQ(restored[relative], content) << relative << " after restore.bat";
  }

  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegCloseKey(machine);
  RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
  fs::remove_all(root);
  return outcome;
}

Outcome RunOnImage() {
  Scenario s;
  const std::string root = "C:\\T";
  WriteTree(s.root / "C" / "T", root, kInstallation);
  s.options.windowsDirectory = root + "\\WINDOWS";
  s.options.programPath = root + "\\Setup\\CheckLUM.exe";
  Outcome outcome;
  outcome.ok = s.RunWorkStep();
  for (const auto& [key, name] : kValues) {
    outcome.values[key + "|" + name] = ReadValue(s.env(), key, name);
  }
  outcome.files = ReadTree(s.root / "C" / "T", root);
  return outcome;
}

}  // namespace

TEST(ScenarioOnBothMachines, SameRegistryFilesAndRestoreScript) {
  Outcome windows = RunOnWindows();
  Outcome image = RunOnImage();
  EXPECT_TRUE(windows.ok);
  EXPECT_EQ(windows.ok, image.ok);
  EXPECT_EQ(windows.values, image.values);
  EXPECT_EQ(windows.files, image.files);
  EXPECT_EQ(windows.files["Setup\\Backup\\restore.bat"],
            "copy/y winlum.ini {ROOT}\\WINDOWS\\lum.ini\r\n"
            "copy/y lum.ini \"{ROOT}\\Old Files\\lum.ini\"\r\n");
}
