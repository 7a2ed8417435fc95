// A private Windows machine for the tests of the Windows build: an old
// installation in a folder of its own below the temporary folder (every part
// of its path a short name already, so that short paths are long paths), a
// registry of its own (HKEY_LOCAL_MACHINE redirected to a key below
// HKEY_CURRENT_USER while the machine lives), and the real Win32 services
// with the machine's Windows directory and program path. cmd runs its
// restore chains. Only the Windows build includes this header.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/EnvWin32.h"
#include "support/Installations.h"

class WindowsMachine {
 public:
  // The real services with the machine's directories; message boxes are
  // recorded (as the Linux program's console shows them) instead of shown.
  class MachineEnv : public EnvWin32 {
   public:
    explicit MachineEnv(std::string root) : root_(std::move(root)) {}
    bool WindowsDirectory(std::string* dir) override {
      *dir = root_ + "\\WINDOWS";
      return true;
    }
    bool ModuleFileName(std::string* path) override {
      *path = root_ + "\\Setup\\CheckLUM.exe";
      return true;
    }
    void ShowMessage(const std::string& text, uint32_t) override {
      messages += "CheckLUM: " + text + "\n";
    }
    std::string messages;

   private:
    std::string root_;
  };

  explicit WindowsMachine(const std::string& tag) : root(RootFor(tag)), env(root) {
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    keyPath_ = "Software\\CheckLUM" + tag + "-" + std::to_string(GetCurrentProcessId());
    RegDeleteTreeA(HKEY_CURRENT_USER, keyPath_.c_str());
    RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &machine_, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_);
  }
  ~WindowsMachine() {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(machine_);
    RegDeleteTreeA(HKEY_CURRENT_USER, keyPath_.c_str());
    // Nothing may hold the machine's folders once its tests are done: the
    // next machine of the same name starts from an empty folder.
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    EXPECT_FALSE(ec) << "the machine's folder " << root << " cannot be removed: " << ec.message();
  }
  WindowsMachine(const WindowsMachine&) = delete;
  WindowsMachine& operator=(const WindowsMachine&) = delete;

  // The installation's files (with "{ROOT}" standing for the root) and its
  // uninstall entries.
  void Install(const Installation& installation) {
    Write(installation.files);
    for (const UninstallEntry& entry : installation.uninstallEntries) {
      std::string path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + entry.name;
      RegKey key = 0;
      env.CreateKey(kHKeyLocalMachine, path.c_str(), &key, nullptr);
      env.SetValue(key, "UninstallString", kRegSz,
                   reinterpret_cast<const uint8_t*>(entry.command.c_str()),
                   static_cast<uint32_t>(entry.command.size() + 1));
      env.CloseKey(key);
    }
  }
  void Write(const Tree& tree) {
    for (const auto& [relative, content] : tree) {
      std::filesystem::path file = std::filesystem::path(root) / relative;
      std::filesystem::create_directories(file.parent_path());
      std::ofstream(file, std::ios::binary) << WithRoot(content, root);
    }
  }
  // Every file below the root, "{ROOT}" standing for the root in their text.
  Tree Read() const {
    Tree tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      std::string relative = std::filesystem::relative(entry.path(), root).string();
      for (char& c : relative) {
        if (c == '/') c = '\\';
      }
      std::ifstream in(entry.path(), std::ios::binary);
      tree[relative] = WithoutRoot(std::string(std::istreambuf_iterator<char>(in), {}), root);
    }
    return tree;
  }

  // cmd runs restore.bat, then restore.bat.N from the highest N down, in the
  // backup directory. cmd runs only files named .bat or .cmd, so a kept
  // script runs under such a name, as the README tells the user.
  void RunRestoreChain() const {
    std::string backup = root + "\\Setup\\Backup";
    if (!std::filesystem::exists(backup + "\\restore.bat")) return;
    std::vector<std::string> chain = {"restore.bat"};
    int kept = 0;
    while (std::filesystem::exists(backup + "\\restore.bat." + std::to_string(kept + 1))) ++kept;
    for (int n = kept; n >= 1; --n) chain.push_back("restore.bat." + std::to_string(n));
    for (const std::string& script : chain) {
      Run("cmd.exe /c cd /d \"" + backup + "\" && copy/y " + script +
          " chain.bat >nul && chain.bat");
    }
    std::filesystem::remove(backup + "\\chain.bat");
  }

  // The machine's registry: every key below its HKEY_LOCAL_MACHINE with its
  // values (name, type, bytes), in the order the registry gives them.
  std::string Registry() const {
    HKEY key = nullptr;
    std::string dump;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_READ, &key) == 0) {
      Dump(key, "", &dump);
      RegCloseKey(key);
    }
    return dump;
  }

  // `reg import` applies restore.reg, then restore.reg.N from the highest N
  // down, each with HKEY_LOCAL_MACHINE standing for the machine's own key
  // (a child process does not see this process's redirection).
  void ImportUndoChain() const {
    std::string backup = root + "\\Setup\\Backup";
    std::vector<std::string> chain;
    if (std::filesystem::exists(backup + "\\restore.reg")) chain.push_back("restore.reg");
    int kept = 0;
    while (std::filesystem::exists(backup + "\\restore.reg." + std::to_string(kept + 1))) ++kept;
    for (int n = kept; n >= 1; --n) chain.push_back("restore.reg." + std::to_string(n));
    for (const std::string& name : chain) {
      std::ifstream in(backup + "\\" + name, std::ios::binary);
      std::string text(std::istreambuf_iterator<char>(in), {});
      // Only key lines name keys: "[HKEY_LOCAL_MACHINE..." and "[-HKEY_...".
      const std::string from = "HKEY_LOCAL_MACHINE", to = "HKEY_CURRENT_USER\\" + keyPath_;
      for (const char* start : {"\n[", "\n[-"}) {
        std::string line = start + from;
        for (size_t at = 0; (at = text.find(line, at)) != std::string::npos; at += line.size()) {
          text.replace(at + line.size() - from.size(), from.size(), to);
        }
      }
      std::string file = root + ".undo.reg";
      std::ofstream(file, std::ios::binary) << text;
      EXPECT_EQ(Run("reg.exe import \"" + file + "\""), 0u) << "reg import of " << name;
      std::filesystem::remove(file);
    }
  }

  std::string root;
  MachineEnv env;

 private:
  // Runs a command to its end and gives its exit code. A command that does
  // not start or does not end is a failure of the test, never a silent pass:
  // a restore that did not run leaves the state a restore is checked for.
  // It starts without a console, in the folder that holds the machine's:
  // a console program started without a window (CREATE_NO_WINDOW) gets a
  // console host that starts in the program's folder and ends only a moment
  // after the program, holding the folder against removal until then (and
  // here a start of cmd so failed once under load, with error 1359, the
  // status Wine gives when a new process ends before it has started).
  DWORD Run(std::string command) const {
    const std::string directory = root.substr(0, root.rfind('\\'));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        directory.c_str(), &startup, &process)) {
      ADD_FAILURE() << "could not start " << command << ": error " << GetLastError();
      return ~DWORD{0};
    }
    DWORD code = ~DWORD{0};
    if (WaitForSingleObject(process.hProcess, 300000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << command << " did not end within 300 s";
      TerminateProcess(process.hProcess, code);
    } else {
      GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
  }

  static void Dump(HKEY key, const std::string& path, std::string* dump) {
    *dump += "[" + path + "]\n";
    char name[16384];
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
      DWORD nameSize = sizeof name, type = 0, size = static_cast<DWORD>(data.size());
      if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data.data(), &size) != 0) break;
      *dump += std::string(name, nameSize) + "=" + std::to_string(type) + ":" +
               std::string(reinterpret_cast<const char*>(data.data()), size) + "\n";
    }
    for (DWORD i = 0;; ++i) {
      DWORD nameSize = sizeof name;
      if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != 0) break;
      HKEY subkey = nullptr;
      std::string subName(name, nameSize);
      if (RegOpenKeyExA(key, subName.c_str(), 0, KEY_READ, &subkey) != 0) continue;
      Dump(subkey, path + "\\" + subName, dump);
      RegCloseKey(subkey);
    }
  }

  static std::string RootFor(const std::string& tag) {
    // The temporary folder in its short form: a user name longer than eight
    // characters has an 8.3 alias that the short path of dellum.exe names.
    char temp[MAX_PATH], shortTemp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    DWORD length = GetShortPathNameA(temp, shortTemp, MAX_PATH);
    std::string folder = length > 0 && length < MAX_PATH ? shortTemp : temp;
    return folder + tag + std::to_string(GetCurrentProcessId() % 100000);
  }

  std::string keyPath_;
  HKEY machine_ = nullptr;
};
