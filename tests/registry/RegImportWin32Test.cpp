// A registry file written by PortableRegistry::SaveFile, imported with the
// system's `reg import`, gives the same keys and values in the real registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/win32/EnvWin32.h"
#include "support/MachineView.h"

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
  EXPECT_EQ(RunCommand("reg.exe import \"" + file + "\" /reg:32"), 0);
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
  DeleteSoftwareKey(std::wstring(base.begin() + 9, base.end()));
}

// Every key and value below `portable` is in the real registry below
// `path`, with the same name, letter case included, type and stored bytes.
void ExpectSameInRealRegistry(const RegistryKeyNode& portable, const std::wstring& path) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | kMachineView, &key),
            ERROR_SUCCESS)
      << std::string(path.begin(), path.end());
  DWORD subkeys = 0, values = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  EXPECT_EQ(subkeys, portable.subkeys.size());
  EXPECT_EQ(values, portable.values.size());
  for (const auto& [unused, value] : portable.values) {
    std::wstring name(value.name.begin(), value.name.end());
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    std::string data(size, '\0');
    RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                     &size);
    EXPECT_EQ(type, value.type);
    EXPECT_EQ(data, value.data);
    // The name as stored, in its letter case.
    for (DWORD i = 0; i < values; ++i) {
      wchar_t found[256];
      DWORD chars = 256;
      if (RegEnumValueW(key, i, found, &chars, nullptr, nullptr, nullptr, nullptr) == 0 &&
          CompareStringOrdinal(found, static_cast<int>(chars), name.c_str(),
                               static_cast<int>(name.size()), TRUE) == CSTR_EQUAL) {
        EXPECT_EQ(std::wstring(found, chars), name);
      }
    }
  }
  for (DWORD i = 0; i < subkeys; ++i) {
    wchar_t found[256];
    DWORD chars = 256;
    ASSERT_EQ(RegEnumKeyExW(key, i, found, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    const RegistryKeyNode* sub = portable.FindSubkey(std::u16string(found, found + chars));
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->name, std::u16string(found, found + chars));
  }
  RegCloseKey(key);
  for (const auto& [unused, entry] : portable.subkeys) {
    const RegistryKeyNode& sub = *entry.node;
    ExpectSameInRealRegistry(sub, path + L"\\" + std::wstring(sub.name.begin(), sub.name.end()));
  }
}

// Keys, value names and text that code page 1252 cannot hold: the portable
// registry writes them in UTF-16LE, and `reg import` takes that file to the
// same keys and values. (Strings here end in their NUL: `reg import` adds a
// NUL to hex(2) and hex(7) data that lacks one.)
TEST(RegImportWin32, UnicodeFileImportsWithTheSameKeysAndValues) {
  std::string pid = std::to_string(GetCurrentProcessId());
  const std::u16string leaf = u"CheckLUMUnicode-" + std::u16string(pid.begin(), pid.end());
  const std::u16string base = u"SOFTWARE\\" + leaf;
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\" +
      base +
      u"\\Vendor\\\u0416]\r\n"
      u"\"Name\"=\"\u4E2D\u6587\"\r\n"
      u"\"Path\"=\"C:\\\\\u0414\u0430\u043D\u043D\u044B\u0435\\\\\\\"q\\\"\"\r\n"
      u"\"Lines\"=\"\u0416\\r\\n\u0436\"\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\" +
      base +
      u"\\Vendor\\\u0424]\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\" +
      base +
      u"\\Vendor\\Values \u4E2D]\r\n"
      u"\"\u0416\"=\"a\"\r\n"
      u"\"\u0424\"=\"b\"\r\n"
      u"@=\"\u0531\u0532 \u03A9 \uFF21 \U0001F600\"\r\n"
      u"\"esz\"=hex(2):25,00,16,04,25,00,00,00\r\n"
      u"\"msz\"=hex(7):2d,4e,00,00,87,65,00,00,00,00\r\n"
      u"\"bin\"=hex:d0,96\r\n"
      u"\"\u4E2D\"=dword:0000002a\r\n"
      u"\r\n";
  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
  std::string input = std::string(temp) + "CheckLUMUnicodeIn-" + pid + ".reg";
  std::string output = std::string(temp) + "CheckLUMUnicode-" + pid + ".reg";
  {
    std::string bytes = "\xFF\xFE" + Utf16LeBytes(text);
    FILE* file = std::fopen(input.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  PortableRegistry portable;
  std::string error;
  ASSERT_TRUE(portable.LoadFile(input, &error)) << error;
  DeleteFileA(input.c_str());
  // A run's own change, through the A functions.
  RegKey key = 0;
  std::string ansiBase(base.begin(), base.end());
  ASSERT_EQ(
      portable.CreateKey(kHKeyLocalMachine, (ansiBase + "\\Tandrel\\LUM").c_str(), &key, nullptr),
      kErrorSuccess);
  portable.SetValue(key, "Caf\xE9", kRegSz, reinterpret_cast<const uint8_t*>("\x80"), 2);
  portable.CloseKey(key);
  ASSERT_TRUE(portable.SaveFile(output, &error)) << error;

  std::string saved;
  {
    FILE* file = std::fopen(output.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) saved.append(chunk, n);
    std::fclose(file);
  }
  EXPECT_EQ(saved.substr(0, 2), "\xFF\xFE");
  auto tree = std::make_shared<RegistryKeyNode>();
  ASSERT_TRUE(ParseRegistryFile(saved, tree.get(), &error)) << error;
  EXPECT_EQ(RunCommand("reg.exe import \"" + output + "\" /reg:32"), 0);
  DeleteFileA(output.c_str());

  const RegistryKeyNode* top = tree.get();
  for (const char16_t* name : {u"SOFTWARE", leaf.c_str()}) {
    top = top->FindSubkey(name);
    ASSERT_NE(top, nullptr);
  }
  ExpectSameInRealRegistry(*top, std::wstring(base.begin(), base.end()));
  DeleteSoftwareKey(std::wstring(leaf.begin(), leaf.end()));
}

}  // namespace
