#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "platform/portable/registry/RegistryFile.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// UTF-16LE with byte order mark, from text whose characters are all below
// U+0100 except the ones spelled as \u escapes by the caller.
std::string Utf16(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

class RegistryFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("registry-file-test-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Loads `bytes` as a file; the error text when that fails.
  std::string Load(PortableRegistry& reg, const std::string& bytes) {
    WriteAll(dir_ / "in.reg", bytes);
    std::string error;
    return reg.LoadFile(dir_ / "in.reg", &error) ? "" : error;
  }
  // Type and bytes of a value, or "missing".
  std::string Value(PortableRegistry& reg, const char* path, const char* name,
                    uint32_t* type = nullptr) {
    RegKey key = 0;
    if (reg.OpenKey(kHKeyLocalMachine, path, &key) != kErrorSuccess) return "no key";
    uint32_t size = 0;
    std::string data;
    if (reg.QueryValue(key, name, type, nullptr, &size) == kErrorSuccess) {
      data.resize(size);
      reg.QueryValue(key, name, nullptr, reinterpret_cast<uint8_t*>(data.data()), &size);
    } else {
      data = "missing";
    }
    reg.CloseKey(key);
    return data;
  }
  // Stores exactly `data`: it is written from memory where a byte that is not
  // a NUL follows it, since a NUL there would be stored with a string.
  void Set(PortableRegistry& reg, const char* path, const char* name, uint32_t type,
           const std::string& data) {
    RegKey key = 0;
    ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, path, &key, nullptr), kErrorSuccess);
    std::string memory = data + 'X';
    reg.SetValue(key, name, type, Bytes(memory), static_cast<uint32_t>(data.size()));
    reg.CloseKey(key);
  }

  fs::path dir_;
};

TEST_F(RegistryFileTest, SavedFileIsSortedRegedit4TextWithCrlfLineEnds) {
  PortableRegistry reg;
  Set(reg, "SOFTWARE\\Tandrel\\LUM\\Queues\\beta", "Font", kRegBinary, std::string("\0\1\xFE", 3));
  Set(reg, "SOFTWARE\\Tandrel\\LUM", "UninstallString", kRegSz,
      std::string("C:\\dir\\\"q\" \xE9\0", 13));
  Set(reg, "SOFTWARE\\Tandrel\\LUM", "", kRegSz, std::string("def\0", 4));
  Set(reg, "SOFTWARE\\Tandrel\\LUM", "Count", kRegDword, std::string("\x2A\0\0\0", 4));
  Set(reg, "SOFTWARE\\Tandrel\\LUM", "NoNul", kRegSz, "ab");
  Set(reg, "SOFTWARE\\Tandrel\\LUM", "Lines", kRegSz, std::string("a\r\nb\0", 5));
  Set(reg, "SOFTWARE\\Tandrel\\LUM", "Exp", kRegExpandSz, std::string("%x%\0", 4));
  Set(reg, "SOFTWARE\\Tandrel\\LUM", "Q", kRegQword, std::string("\1\2\3\4\5\6\7\x08", 8));
  Set(reg, "SOFTWARE\\Tandrel\\LUM\\Queues\\Alpha", "Short", kRegDword, "\1\2");
  std::string error;
  ASSERT_TRUE(reg.SaveFile(dir_ / "HKLM.reg", &error)) << error;
  EXPECT_EQ(ReadAll(dir_ / "HKLM.reg"),
            "REGEDIT4\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM]\r\n"
            "@=\"def\"\r\n"
            "\"Count\"=dword:0000002a\r\n"
            "\"Exp\"=hex(2):25,78,25,00\r\n"
            "\"Lines\"=hex(1):61,0d,0a,62,00\r\n"
            "\"NoNul\"=\"ab\"\r\n"
            "\"Q\"=hex(b):01,02,03,04,05,06,07,08\r\n"
            "\"UninstallString\"=\"C:\\\\dir\\\\\\\"q\\\" \xE9\"\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM\\Queues\\Alpha]\r\n"
            "\"Short\"=hex(4):01,02\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM\\Queues\\beta]\r\n"
            "\"Font\"=hex:00,01,fe\r\n"
            "\r\n");
  EXPECT_FALSE(fs::exists(dir_ / "HKLM.reg.tmp"));
}

TEST_F(RegistryFileTest, EveryValueRoundTrips) {
  PortableRegistry reg;
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::vector<std::pair<uint32_t, std::string>> values = {
      {kRegSz, std::string("plain\0", 6)},
      {kRegSz, "no nul"},
      {kRegSz, ""},
      {kRegSz, std::string("\0", 1)},
      {kRegSz, std::string("a\0b\0", 4)},
      {kRegSz, std::string("cr\rlf\n\0", 7)},
      {kRegSz, std::string("tab\t\"\\\\\0", 9)},
      {kRegSz, std::string("\\\0", 2)},
      {kRegSz, all},
      {kRegBinary, all + all + all},
      {kRegBinary, ""},
      {kRegDword, "\xFF\xFF\xFF\xFF"},
      {kRegDword, "123"},
      {kRegMultiSz, std::string("a\0bc\0\0", 6)},
      {kRegNone, "x"},
      {0x1234, "xy"},
      {0xFFFFFFFF, ""}};
  for (size_t i = 0; i < values.size(); ++i) {
    std::string name = i == 0 ? "" : "v" + std::to_string(i) + "\"q\\";
    Set(reg, "K\\ sp ]\\[x]\\\xE9\xC0", name.c_str(), values[i].first, values[i].second);
  }
  Set(reg, std::string(255, 'L').c_str(), std::string(1000, 'n').c_str(), kRegSz, "long name");
  Set(reg, "Empty\\Leaf", "", kRegSz, std::string("\0", 1));
  RegKey bare = 0;
  ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, "Bare\\Leaf", &bare, nullptr), kErrorSuccess);
  reg.CloseKey(bare);
  std::string error;
  ASSERT_TRUE(reg.SaveFile(dir_ / "HKLM.reg", &error)) << error;
  std::string text = ReadAll(dir_ / "HKLM.reg");
  size_t start = 0;
  while (start < text.size()) {  // every line ends with CRLF, hex lines stay short
    size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    bool hexData = line.starts_with("  ") || line.find("=hex") < 20;
    if (hexData) {
      EXPECT_LT(line.size(), 80u) << line;
    }
    start = end + 2;
  }

  PortableRegistry loaded;
  ASSERT_TRUE(loaded.LoadFile(dir_ / "HKLM.reg", &error)) << error;
  EXPECT_FALSE(loaded.Changed());
  auto a = std::make_shared<RegistryKeyNode>(), b = std::make_shared<RegistryKeyNode>();
  ASSERT_TRUE(ParseRegistryFile(text, a.get(), &error)) << error;
  std::string again;
  ASSERT_TRUE(FormatRegistryFile(*a, &again, &error));
  EXPECT_EQ(again, text);
  for (size_t i = 0; i < values.size(); ++i) {
    std::string name = i == 0 ? "" : "v" + std::to_string(i) + "\"Q\\";
    uint32_t type = 0;
    // Plain text comes back terminated, as `reg import` stores it; strings
    // with control characters are written byte for byte.
    std::string expected = values[i].second;
    bool plain = std::all_of(expected.begin(), expected.end(), [](char c) {
      return c == '\t' || static_cast<unsigned char>(c) >= 0x20;
    });
    if (values[i].first == kRegSz && plain) expected.push_back('\0');
    EXPECT_EQ(Value(loaded, "k\\ SP ]\\[X]\\\xC9\xE0", name.c_str(), &type), expected) << i;
    EXPECT_EQ(type, values[i].first) << i;
  }
  EXPECT_EQ(Value(loaded, "Empty\\Leaf", nullptr), std::string("\0", 1));
  EXPECT_EQ(loaded.OpenKey(kHKeyLocalMachine, "Bare\\Leaf", &bare), kErrorSuccess);
}

TEST_F(RegistryFileTest, ReadsUnicodeExportsAsCodePage1252) {
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\u00E9]\r\n"
      u"@=\"default\"\r\n"
      u"\"euro\"=\"\u00E9\u20AC \u4E2D\"\r\n"
      u"\"esz\"=hex(2):25,00,53,00,79,00,73,00,25,00,00,00\r\n"
      u"\"msz\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,00,00\r\n"
      u"\"bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\r\n"
      u"  15,16\r\n"
      u"\"crlf\"=\"a\\r\\nb\"\r\n"
      u"\r\n";
  PortableRegistry reg;
  ASSERT_EQ(Load(reg, Utf16(text)), "");
  uint32_t type = 0;
  EXPECT_EQ(Value(reg, "SOFTWARE\\CAF\xC9", ""), std::string("default\0", 8));
  EXPECT_EQ(Value(reg, "SOFTWARE\\Caf\xE9", "euro"), std::string("\xE9\x80 ?\0", 5));
  EXPECT_EQ(Value(reg, "SOFTWARE\\Caf\xE9", "esz", &type), std::string("%Sys%\0", 6));
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_EQ(Value(reg, "SOFTWARE\\Caf\xE9", "msz"), std::string("one\0two\0\0", 9));
  EXPECT_EQ(Value(reg, "SOFTWARE\\Caf\xE9", "bin").size(), 23u);
  EXPECT_EQ(Value(reg, "SOFTWARE\\Caf\xE9", "crlf"), std::string("a\r\nb\0", 5));

  // The same export as UTF-8, with and without its byte order mark.
  std::string utf8 =
      "Windows Registry Editor Version "
      "5.00\n[HKEY_LOCAL_MACHINE\\U]\n\"t\"=\"\xC3\xA9\xE2\x82\xAC\"\n";
  PortableRegistry fromUtf8, fromBom;
  ASSERT_EQ(Load(fromUtf8, utf8), "");
  ASSERT_EQ(Load(fromBom, "\xEF\xBB\xBF" + utf8), "");
  EXPECT_EQ(Value(fromUtf8, "U", "t"), std::string("\xE9\x80\0", 3));
  EXPECT_EQ(Value(fromBom, "U", "t"), std::string("\xE9\x80\0", 3));
  // REGEDIT4 text is ANSI: bytes that happen to form UTF-8 stay as they are.
  PortableRegistry ansi;
  ASSERT_EQ(Load(ansi, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\U]\n\"t\"=\"\xC3\xA9\"\n"), "");
  EXPECT_EQ(Value(ansi, "U", "t"), std::string("\xC3\xA9\0", 3));
}

TEST_F(RegistryFileTest, ReadsCommentsDeletionsAndLooseSpacing) {
  PortableRegistry reg;
  ASSERT_EQ(Load(reg,
                 "REGEDIT4\n"
                 "; comment\n"
                 "[HKEY_LOCAL_MACHINE\\X\\Gone\\Deep]\n"
                 "[hkey_local_machine\\\\X\\\\Kept\\]\n"
                 "  \"spaces\" = \"around\"   ; trailing comment\n"
                 "\"dw\"=dword:ABCD\n"
                 "\"short\"=dword:2a\n"
                 "\"delme\"=\"x\"\n"
                 "\"delme\"=-\n"
                 "\"h\"=hex(4):01,02,03,04\n"
                 "\"wrapped\"=hex:00,01,\\\n"
                 "    02 , 03\n"
                 "\"empty\"=hex:\n"
                 "[-HKEY_LOCAL_MACHINE\\X\\Gone]\n"
                 "\"ignored\"=\"under a deleted key\"\n"
                 "[-HKEY_LOCAL_MACHINE\\X\\NeverWas]\n"),
            "");
  RegKey key = 0;
  EXPECT_EQ(reg.OpenKey(kHKeyLocalMachine, "X\\Gone", &key), kErrorFileNotFound);
  EXPECT_EQ(Value(reg, "X\\Kept", "spaces"), std::string("around\0", 7));
  EXPECT_EQ(Value(reg, "X\\Kept", "dw"), std::string("\xCD\xAB\0\0", 4));
  EXPECT_EQ(Value(reg, "X\\Kept", "short"), std::string("\x2A\0\0\0", 4));
  EXPECT_EQ(Value(reg, "X\\Kept", "delme"), "missing");
  EXPECT_EQ(Value(reg, "X\\Kept", "h"), "\1\2\3\4");
  EXPECT_EQ(Value(reg, "X\\Kept", "wrapped"), std::string("\0\1\2\3", 4));
  EXPECT_EQ(Value(reg, "X\\Kept", "empty"), "");
}

TEST_F(RegistryFileTest, UnreadableFileNamesItsLineAndChangesNothing) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"", 1},
      {"REGEDIT5\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", 1},
      {"REGEDIT4\r\n\r\n\"v\"=\"before any key\"\r\n", 3},
      {"REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n", 2},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINEX]\r\n", 2},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\r\n", 2},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"open\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"x\" y\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\" \"x\"\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=dword:123456789\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=dword:xyz\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:0g\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:001\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex(x):00\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:00,\\\r\n  01,\\\r\n  zz\r\n", 5},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:00,\\\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=str:x\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\nv=\"x\"\r\n", 3},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\0\"=\"x\"\r\n", 3},
      {"REGEDIT4\r\n[-HKEY_LOCAL_MACHINE]\r\n", 2},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\r\n", 2},
      {Utf16(u"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n") + "x", 4},
      {"\xEF\xBB\xBFREGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\\xC3]\r\n", 3},
  };
  PortableRegistry reg;
  RegKey key = 0;
  ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, "Existing", &key, nullptr), kErrorSuccess);
  for (const auto& [bytes, line] : cases) {
    std::string error = Load(reg, bytes);
    EXPECT_NE(error.find("line " + std::to_string(line) + ":"), std::string::npos)
        << error << "\nfor: " << bytes;
    EXPECT_TRUE(reg.Changed());
    EXPECT_EQ(reg.SetValue(key, "still", kRegSz, Bytes("ok"), 2), kErrorSuccess);
  }
  EXPECT_EQ(reg.CloseKey(key), kErrorSuccess);
  std::string error;
  EXPECT_FALSE(reg.LoadFile(dir_ / "missing.reg", &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(RegistryFileTest, LoadingReplacesTheContentsAndStaleHandlesSeeTheirKeyDeleted) {
  PortableRegistry reg;
  RegKey old = 0;
  ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, "Old", &old, nullptr), kErrorSuccess);
  ASSERT_EQ(Load(reg, "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\New]\r\n"), "");
  EXPECT_FALSE(reg.Changed());
  uint32_t count = 0;
  EXPECT_EQ(reg.QueryKeyInfo(old, &count, nullptr), kErrorKeyDeleted);
  EXPECT_EQ(reg.SetValue(old, "v", kRegSz, Bytes("x"), 1), kErrorKeyDeleted);
  EXPECT_EQ(reg.CloseKey(old), kErrorSuccess);
  EXPECT_EQ(reg.QueryKeyInfo(kHKeyLocalMachine, &count, nullptr), kErrorSuccess);
  EXPECT_EQ(count, 1u);
}

// What changes the registry is what changes its contents: a key that did not
// exist, a value that is new or now holds another type or other bytes. A run
// that stores again what a loaded file holds leaves the file alone.
TEST_F(RegistryFileTest, StoringWhatIsThereAlreadyIsNoChange) {
  PortableRegistry reg;
  ASSERT_EQ(Load(reg,
                 "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM\\Queues\\Q1]\r\n"
                 "\"Name\"=\"Q1\"\r\n\"Count\"=dword:00000001\r\n"),
            "");
  RegKey key = 0;
  ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, "software\\tandrel\\lum\\queues\\q1", &key, nullptr),
            kErrorSuccess);
  const std::string name = "Q1";  // written without its NUL, which follows it: "Q1\0" again
  reg.SetValue(key, "NAME", kRegSz, Bytes(name), 2);
  reg.SetValue(key, "Count", kRegDword, Bytes(std::string("\1\0\0\0", 4)), 4);
  RegKey same = 0;
  ASSERT_EQ(reg.CreateKey(key, "", &same, nullptr), kErrorSuccess);  // reported as created
  reg.CloseKey(same);
  EXPECT_FALSE(reg.Changed());
  reg.SetValue(key, "Count", kRegBinary, Bytes(std::string("\1\0\0\0", 4)), 4);  // another type
  EXPECT_TRUE(reg.Changed());
  reg.CloseKey(key);

  PortableRegistry other;
  ASSERT_EQ(Load(other, "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"x\"\r\n"), "");
  ASSERT_EQ(other.OpenKey(kHKeyLocalMachine, "A", &key), kErrorSuccess);
  other.SetValue(key, "v", kRegSz, Bytes("xX"), 1);  // "x" without its NUL: other bytes
  EXPECT_TRUE(other.Changed());
  other.CloseKey(key);
}

TEST_F(RegistryFileTest, SaveFailsCleanlyWhenTheFileCannotBeWrittenOrNamesHoldLineBreaks) {
  PortableRegistry reg;
  std::string error;
  EXPECT_FALSE(reg.SaveFile(dir_ / "no such dir" / "HKLM.reg", &error));
  EXPECT_FALSE(error.empty());

  WriteAll(dir_ / "HKLM.reg", "previous");
  Set(reg, "A\nB", "v", kRegSz, "x");
  error.clear();
  EXPECT_FALSE(reg.SaveFile(dir_ / "HKLM.reg", &error));
  EXPECT_NE(error.find("line break"), std::string::npos);
  EXPECT_EQ(ReadAll(dir_ / "HKLM.reg"), "previous");
}

}  // namespace
