// A registry file written by PortableRegistry::SaveFile, imported with the
// system's `reg import`, gives the same keys and values in the real registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "platform/win32/EnvWin32.h"

namespace {

struct Value {
  const char* name;
  uint32_t type;
  std::string data;
};

// Runs a command line and returns its exit code (or -1).
int RunCommand(std::string command) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

TEST(RegImportWin32, SavedFileImportsWithTheSameValues) {
  std::string pid = std::to_string(GetCurrentProcessId());
  std::string base = "SOFTWARE\\CheckLUMImport-" + pid;
  std::string binary;
  for (int i = 0; i < 200; ++i) binary.push_back(static_cast<char>(i * 7));
  const std::vector<Value> values = {
      {"", kRegSz, std::string("default\0", 8)},
      {"Path", kRegSz, std::string("C:\\dir\\\"quoted\" \xE9\x80\0", 20)},
      {"Empty", kRegSz, std::string("\0", 1)},
      {"Lines", kRegSz, std::string("a\r\nb\0", 5)},
      {"Tab\tName \"q\\", kRegSz, std::string("x\0", 2)},
      {"Number", kRegDword, std::string("\x2A\0\0\x80", 4)},
      {"Bytes", kRegBinary, binary},
      {"NoBytes", kRegBinary, ""},
      {"Expand", kRegExpandSz, std::string("%SystemRoot%\\x\0", 15)},
      {"Multi", kRegMultiSz, std::string("one\0two\0\0", 9)},
      {"Quad", kRegQword, std::string("\1\2\3\4\5\6\7\x08", 8)},
      {"None", kRegNone, "\x01"},
      {"Custom", 0x1234, "xy"},
      {"ShortDword", kRegDword, "\1\2"},
  };
  PortableRegistry portable;
  RegKey key = 0, sub = 0;
  ASSERT_EQ(portable.CreateKey(kHKeyLocalMachine, (base + "\\Nested\\Leaf").c_str(), &sub, nullptr),
            kErrorSuccess);
  portable.SetValue(sub, "leaf", kRegDword, reinterpret_cast<const uint8_t*>("\1\0\0\0"), 4);
  portable.CloseKey(sub);
  ASSERT_EQ(portable.CreateKey(kHKeyLocalMachine, (base + "\\Empty Key").c_str(), &sub, nullptr),
            kErrorSuccess);
  portable.CloseKey(sub);
  ASSERT_EQ(portable.CreateKey(kHKeyLocalMachine, base.c_str(), &key, nullptr), kErrorSuccess);
  for (const Value& v : values) {
    portable.SetValue(key, v.name, v.type, reinterpret_cast<const uint8_t*>(v.data.data()),
                      static_cast<uint32_t>(v.data.size()));
  }
  portable.CloseKey(key);

  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
  std::string file = std::string(temp) + "CheckLUMImport-" + pid + ".reg";
  std::string error;
  ASSERT_TRUE(portable.SaveFile(file, &error)) << error;
  EXPECT_EQ(RunCommand("reg.exe import \"" + file + "\""), 0);
  DeleteFileA(file.c_str());

  EnvWin32 real;
  ASSERT_EQ(real.OpenKey(kHKeyLocalMachine, base.c_str(), &key), kErrorSuccess);
  for (const Value& v : values) {
    uint32_t type = 0, size = 0;
    ASSERT_EQ(real.QueryValue(key, v.name, &type, nullptr, &size), kErrorSuccess) << v.name;
    std::string data(size, '\0');
    real.QueryValue(key, v.name, nullptr, reinterpret_cast<uint8_t*>(data.data()), &size);
    EXPECT_EQ(type, v.type) << v.name;
    EXPECT_EQ(data, v.data) << v.name;
  }
  uint32_t subkeys = 0;
  EXPECT_EQ(real.QueryKeyInfo(key, &subkeys, nullptr), kErrorSuccess);
  EXPECT_EQ(subkeys, 2u);
  real.CloseKey(key);
  ASSERT_EQ(real.OpenKey(kHKeyLocalMachine, (base + "\\nested\\leaf").c_str(), &key),
            kErrorSuccess);
  uint8_t leaf[4] = {};
  uint32_t size = sizeof leaf;
  EXPECT_EQ(real.QueryValue(key, "leaf", nullptr, leaf, &size), kErrorSuccess);
  EXPECT_EQ(leaf[0], 1);
  real.CloseKey(key);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, base.c_str());
}

}  // namespace
