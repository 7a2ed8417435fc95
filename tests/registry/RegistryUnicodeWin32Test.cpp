// Unicode names and strings in the portable registry against the real one:
// which names are one name, and what the A functions see of names and data
// that code page 1252 cannot hold.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/text/Text.h"
#include "platform/win32/EnvWin32.h"
#include "support/MachineView.h"

namespace {

std::wstring Wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

std::string Hex(char16_t ch) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(ch));
  return text;
}

// Every small letter UnicodeUpperCase knows and every other character of
// those blocks: the real registry must take two of them for one key name
// exactly when their upper-case forms are equal.
TEST(RegistryUnicodeWin32, LetterCaseIsIgnoredAsTheRealRegistryIgnoresIt) {
  const std::pair<char16_t, char16_t> blocks[] = {{0x0001, 0x058F}, {0x1E00, 0x1FFF},
                                                  {0x2C60, 0x2C7F}, {0xA640, 0xA69F},
                                                  {0xA720, 0xA7FF}, {0xFF00, 0xFFEF}};
  std::vector<char16_t> names;
  for (auto [first, last] : blocks) {
    for (char32_t ch = first; ch <= last; ++ch) {
      if (ch == u'\\') continue;
      names.push_back(static_cast<char16_t>(ch));
      char16_t upper = UnicodeUpperCase(static_cast<char16_t>(ch));
      if (upper != ch) names.push_back(upper);  // a capital outside the blocks
    }
  }
  std::wstring base = L"SOFTWARE\\CheckLUMCase-" + std::to_wstring(GetCurrentProcessId());
  HKEY parent = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, base.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | kMachineView, nullptr, &parent, nullptr),
            ERROR_SUCCESS);
  std::map<std::u16string, char16_t> first;  // upper-case form -> the first name so keyed
  int compared = 0, differences = 0;
  for (char16_t ch : names) {
    std::u16string name(1, ch);
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(parent, Wide(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS)
        << Hex(ch);
    RegCloseKey(key);
    auto [it, inserted] = first.try_emplace(UnicodeNameKey(name), ch);
    bool real = disposition == REG_OPENED_EXISTING_KEY;
    ++compared;
    if (real != !inserted && differences++ < 25) {
      ADD_FAILURE() << "U+" << Hex(ch) << ": the real registry "
                    << (real ? "opened an existing key" : "created a new key")
                    << ", the portable registry "
                    << (inserted ? "a new one" : "takes it for U+" + Hex(it->second));
    }
  }
  RegCloseKey(parent);
  DeleteSoftwareKey(base.substr(9));
  std::printf("letter case: %d names compared, %d differences\n", compared, differences);
  EXPECT_EQ(differences, 0);
}

struct UnicodeValue {
  std::u16string name;
  uint32_t type;
  std::string data;  // as stored: UTF-16LE for the string types
};

// The same keys and values in both registries: written with the W functions
// into the real one, read from a UTF-16 registry file into the portable one.
// Then every A call must give the same results, sizes and bytes.
TEST(RegistryUnicodeWin32, TheAFunctionsSeeUnicodeTextAsTheRealRegistryShowsIt) {
  const std::vector<std::u16string> subkeys = {u"\u0416\u0444", u"\u4E2D\u6587", u"\U0001F600",
                                               u"plain", u"\u00E9t\u00E9"};
  const std::vector<UnicodeValue> values = {
      {u"cjk", kRegSz, Utf16LeBytes(std::u16string(u"\u4E2D\u6587 \u00E9\u20AC\0", 6))},
      {u"pair", kRegSz, Utf16LeBytes(std::u16string(u"\U0001F600x\0", 4))},
      {u"nonul", kRegSz, Utf16LeBytes(u"\u0416\u0436")},
      {u"odd", kRegSz, Utf16LeBytes(u"\u0416A").substr(0, 3)},
      {u"expand", kRegExpandSz, Utf16LeBytes(std::u16string(u"%\u0416%\0", 4))},
      {u"multi", kRegMultiSz, Utf16LeBytes(std::u16string(u"\u0416\0\u0424\0\0", 5))},
      {u"empty", kRegSz, ""},
      {u"bin", kRegBinary, "\x16\x04"},
      {u"\u0416", kRegSz, Utf16LeBytes(std::u16string(u"a\0", 2))},
  };
  std::wstring base = L"SOFTWARE\\CheckLUMAnsiView-" + std::to_wstring(GetCurrentProcessId());
  std::u16string file = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\";
  file += std::u16string(base.begin(), base.end()) + u"]\r\n";
  HKEY real = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, base.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | kMachineView, nullptr, &real, nullptr),
            ERROR_SUCCESS);
  for (const UnicodeValue& v : values) {
    // A character that is no NUL after the data, so that exactly the data is
    // stored.
    std::string memory = v.data + "XX";
    ASSERT_EQ(RegSetValueExW(real, Wide(v.name).c_str(), 0, v.type,
                             reinterpret_cast<const BYTE*>(memory.data()),
                             static_cast<DWORD>(v.data.size())),
              ERROR_SUCCESS);
    char type[16];
    std::snprintf(type, sizeof type, "=hex(%x):", static_cast<unsigned>(v.type));
    file += u"\"" + v.name + u"\"" + Cp1252ToUtf16(type);
    for (size_t i = 0; i < v.data.size(); ++i) {
      char byte[4];
      std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : ",%02x",
                    static_cast<unsigned char>(v.data[i]));
      file += Cp1252ToUtf16(byte);
    }
    file += u"\r\n";
  }
  for (const std::u16string& name : subkeys) {
    HKEY key = nullptr;
    RegCreateKeyExW(real, Wide(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    RegCloseKey(key);
    file += u"[HKEY_LOCAL_MACHINE\\" + std::u16string(base.begin(), base.end()) + u"\\" + name +
            u"]\r\n";
  }
  RegCloseKey(real);

  auto tree = std::make_shared<RegistryKeyNode>();
  std::string error;
  std::string bytes = "\xFF\xFE" + Utf16LeBytes(file);
  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
  std::string path =
      std::string(temp) + "CheckLUMAnsiView-" + std::to_string(GetCurrentProcessId()) + ".reg";
  {
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  PortableRegistry portable;
  ASSERT_TRUE(portable.LoadFile(path, &error)) << error;
  DeleteFileA(path.c_str());

  EnvWin32 env;
  std::string ansiBase(base.begin(), base.end());
  RegKey r = 0, p = 0;
  ASSERT_EQ(env.OpenKey(kHKeyLocalMachine, ansiBase.c_str(), &r), kErrorSuccess);
  ASSERT_EQ(portable.OpenKey(kHKeyLocalMachine, ansiBase.c_str(), &p), kErrorSuccess);
  int compared = 0;
  auto check = [&](const std::string& what, uint32_t a, uint32_t b) {
    ++compared;
    EXPECT_EQ(a, b) << what;
  };
  uint32_t countA = 0, countB = 0, longestA = 0, longestB = 0;
  check("query info", env.QueryKeyInfo(r, &countA, &longestA),
        portable.QueryKeyInfo(p, &countB, &longestB));
  EXPECT_EQ(countA, countB);
  EXPECT_EQ(longestA, longestB);
  // Subkeys in the order of either registry: Wine sorts by lower-case names.
  std::multiset<std::string> namesA, namesB;
  for (uint32_t index = 0; index <= subkeys.size(); ++index) {
    for (uint32_t room : {0u, 1u, 2u, 3u, 64u}) {
      char nameA[64], nameB[64];
      std::fill(std::begin(nameA), std::end(nameA), '#');
      std::fill(std::begin(nameB), std::end(nameB), '#');
      uint32_t charsA = room, charsB = room;
      uint32_t a = env.EnumKey(r, index, nameA, &charsA);
      uint32_t b = portable.EnumKey(p, index, nameB, &charsB);
      std::string what = "enum " + std::to_string(index) + " room " + std::to_string(room);
      check(what, a, b);
      EXPECT_EQ(charsA, charsB) << what;
      EXPECT_EQ(std::string(nameA, 64), std::string(nameB, 64)) << what;
      if (a == 0 && b == 0) {
        if (room == 64) {
          namesA.insert(std::string(nameA, charsA));
          namesB.insert(std::string(nameB, charsB));
        }
      }
    }
  }
  EXPECT_EQ(namesA, namesB);
  EXPECT_EQ(namesB, (std::multiset<std::string>{"??", "??", "??", "plain", "\xE9t\xE9"}));
  RegKey sub = 0;
  check("open ??", env.OpenKey(r, "??", &sub), portable.OpenKey(p, "??", &sub));
  for (const char* name : {"cjk", "pair", "nonul", "odd", "expand", "multi", "empty", "bin", "?"}) {
    for (int room : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 12}) {
      uint8_t bufA[16], bufB[16];
      std::fill(std::begin(bufA), std::end(bufA), '#');
      std::fill(std::begin(bufB), std::end(bufB), '#');
      uint32_t typeA = 77, typeB = 77;
      uint32_t sizeA = room < 0 ? 55 : room, sizeB = sizeA;
      std::string what = std::string("query ") + name + " room " + std::to_string(room);
      check(what, env.QueryValue(r, name, &typeA, room < 0 ? nullptr : bufA, &sizeA),
            portable.QueryValue(p, name, &typeB, room < 0 ? nullptr : bufB, &sizeB));
      EXPECT_EQ(typeA, typeB) << what;
      EXPECT_EQ(sizeA, sizeB) << what;
      EXPECT_EQ(std::string(bufA, bufA + 16), std::string(bufB, bufB + 16)) << what;
    }
  }
  env.CloseKey(r);
  portable.CloseKey(p);
  DeleteSoftwareKey(base.substr(9));
  std::printf("ANSI view of Unicode text: %d calls compared\n", compared);
}

}  // namespace
