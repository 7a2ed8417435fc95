#include "uninstall/UninstallHandOver.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "import/ProductKey.h"

namespace {

constexpr uint32_t kNameChars = 256;     // a key name and its NUL
constexpr uint32_t kCommandBytes = 256;  // an uninstall command and its NUL

// The command of the last entry (in enumeration order) whose name begins with
// "LUM", with the entry's name; empty when there is none or it has none.
std::string FindOldCommand(Env& env, std::string* entryName) {
  RegKey uninstall = 0;
  if (env.OpenKey(kHKeyLocalMachine, kUninstallKeyPath, &uninstall) != 0) return "";
  uint32_t count = 0, longest = 0;
  if (env.QueryKeyInfo(uninstall, &count, &longest) != 0) {
    env.CloseKey(uninstall);
    return "";
  }
  char command[kCommandBytes] = {};
  for (uint32_t i = 0; i < count; ++i) {
    char name[kNameChars] = {};
    uint32_t chars = std::min(longest + 1, kNameChars);
    if (env.EnumKey(uninstall, count - 1 - i, name, &chars) != 0) continue;
    if (std::strncmp(name, "LUM", 3) != 0) continue;
    RegKey entry = 0;
    if (env.OpenKey(uninstall, name, &entry) == 0) {
      uint32_t size = sizeof command;
      // A failed read (a command too long for the buffer) leaves the
      // buffer's contents undefined: nothing of them is taken.
      if (env.QueryValue(entry, "UninstallString", nullptr, reinterpret_cast<uint8_t*>(command),
                         &size) != 0) {
        std::memset(command, 0, sizeof command);
      }
      env.CloseKey(entry);
    }
    *entryName = name;
    break;  // the last entry named so decides, whatever it holds
  }
  env.CloseKey(uninstall);
  return std::string(command, strnlen(command, sizeof command));
}

bool NamesDellum(const std::string& command) {
  std::string lower = command;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return lower.find("dellum.exe") != std::string::npos;
}

uint32_t SetText(Env& env, RegKey key, const std::string& text) {
  return env.SetValue(key, "UninstallString", kRegSz,
                      reinterpret_cast<const uint8_t*>(text.c_str()),
                      static_cast<uint32_t>(text.size() + 1));
}

}  // namespace

int HandOverUninstallEntry(Env& env, HandOver* what) {
  HandOver unused;
  if (what == nullptr) what = &unused;
  *what = HandOver::kRegistryFailed;
  std::string entryName;
  std::string oldCommand = FindOldCommand(env, &entryName);
  // An entry that names dellum.exe was handed over by an earlier run: its
  // command is no longer the old release's and must not replace the one kept.
  if (oldCommand.empty() || NamesDellum(oldCommand)) {
    *what = oldCommand.empty() ? HandOver::kNoEntry : HandOver::kDoneEarlier;
    return 0;
  }

  RegKey product = 0;
  if (env.CreateKey(kHKeyLocalMachine, kProductKeyPath, &product, nullptr) != 0) return 0;
  uint32_t kept = SetText(env, product, oldCommand);
  env.CloseKey(product);
  if (kept != 0) return 0;

  std::string program;
  *what = HandOver::kNoUninstaller;
  if (!env.ModuleFileName(&program)) return 0;
  std::string uninstaller = program.substr(0, program.rfind('\\') + 1) + "dellum.exe";
  std::string shortPath;
  // Without its short path (no dellum.exe beside the program) the entry
  // keeps the old command, which still works.
  if (!env.ShortPathName(uninstaller, &shortPath)) return 0;
  *what = HandOver::kRegistryFailed;
  // Where the volume keeps no 8.3 names the short path is the long one, and
  // Windows would run an unquoted command with a blank as its first word
  // (C:\Program.exe) instead.
  if (shortPath.find(' ') != std::string::npos) shortPath = '"' + shortPath + '"';

  RegKey entry = 0;
  std::string entryPath = std::string(kUninstallKeyPath) + "\\" + entryName;
  if (env.OpenKey(kHKeyLocalMachine, entryPath.c_str(), &entry) != 0) return 0;
  SetText(env, entry, shortPath);
  env.CloseKey(entry);
  *what = HandOver::kDone;
  return 1;
}
