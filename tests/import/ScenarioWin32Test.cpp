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
#include "support/Installations.h"
#include "support/Scenario.h"
#include "support/WindowsMachine.h"

namespace fs = std::filesystem;

namespace {

void WriteTree(const fs::path& base, const std::string& root, const Tree& tree) {
  for (const auto& [relative, content] : tree) {
    fs::path file = base / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << WithRoot(content, root);
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
    tree[relative] = WithoutRoot(std::string(std::istreambuf_iterator<char>(in), {}), root);
  }
  return tree;
}

// The installation's uninstall entries, in the registry the run will see.
void WriteUninstallEntries(Env& env, const Installation& c) {
  for (const UninstallEntry& entry : c.uninstallEntries) {
    std::string path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + entry.name;
    RegKey key = 0;
    ASSERT_EQ(env.CreateKey(kHKeyLocalMachine, path.c_str(), &key, nullptr), 0u);
    env.SetValue(key, "UninstallString", kRegSz,
                 reinterpret_cast<const uint8_t*>(entry.command.c_str()),
                 static_cast<uint32_t>(entry.command.size() + 1));
    env.CloseKey(key);
  }
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
Outcome Run(const Installation& c, const std::function<Env&()>& envForRun,
            const std::function<std::string()>& messages, const fs::path& base,
            const std::string& root) {
  Outcome outcome;
  WriteTree(base, root, c.files);
  WriteUninstallEntries(envForRun(), c);
  Env* env = nullptr;
  for (int run = 0; run < (c.beforeSecondRun.empty() ? 1 : 2); ++run) {
    if (run == 1) WriteTree(base, root, c.beforeSecondRun);
    env = &envForRun();
    CCheckLUMDlg dlg(*env);
    outcome.ok.push_back(dlg.RunWorkStep());
  }
  for (const auto& [key, name] : c.values) {
    outcome.values[key + "|" + name] = WithoutRoot(ReadValue(*env, key, name), root);
  }
  outcome.files = ReadTree(base, root);
  outcome.messages = WithoutRoot(messages(), root);
  return outcome;
}

Outcome RunOnWindows(const Installation& c) {
  WindowsMachine machine("CLS");
  Outcome outcome = Run(
      c, [&]() -> Env& { return machine.env; }, [&] { return machine.env.messages; }, machine.root,
      machine.root);
  machine.RunRestoreChain();
  Tree restored = machine.Read();
  for (const auto& [relative, content] : c.files) {
    EXPECT_EQ(restored[relative], content) << relative << " after the restore chain";
  }
  return outcome;
}

Outcome RunOnImage(const Installation& c) {
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
  const Installation& c = Installations()[GetParam()];
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
                         testing::Range<size_t>(0, Installations().size()));

// A folder where the run writes restore.bat, restore.reg or CheckLUM.log is
// no earlier run's file: it stays, and both machines answer alike. Without a
// restore script or an undo file nothing may move.
TEST(ScenarioOnBothMachines, FolderInTheWayOfTheRunsOwnFiles) {
  for (const char* name : {"restore.bat", "restore.reg", "CheckLUM.log"}) {
    SCOPED_TRACE(name);
    Installation c = Installations()[0];
    const std::string kept = std::string("Setup\\Backup\\") + name + "\\kept.txt";
    c.files[kept] = "a folder of the user's";
    Outcome windows = RunOnWindows(c);
    Outcome image = RunOnImage(c);
    EXPECT_EQ(windows.ok, image.ok);
    EXPECT_EQ(windows.files, image.files);
    EXPECT_EQ(windows.messages, image.messages);
    EXPECT_EQ(windows.files[kept], c.files[kept]);
    if (std::string(name) != "CheckLUM.log") {
      EXPECT_EQ(windows.ok, std::vector<bool>{false});
      EXPECT_EQ(windows.files["Old Files\\lum.ini"], c.files["Old Files\\lum.ini"]);
    }
  }
}

TEST(ScenarioOnWindows, RestoreScriptOfTheSimplestRun) {
  Outcome windows = RunOnWindows(Installations()[0]);
  EXPECT_EQ(windows.files["Setup\\Backup\\restore.bat"],
            "copy/y winlum.ini {ROOT}\\WINDOWS\\lum.ini\r\n"
            "copy/y lum.ini \"{ROOT}\\Old Files\\lum.ini\"\r\n");
}

}  // namespace
