// Registry text beyond code page 1252: Unicode registry files keep every
// name and string through a run, names compare by the Unicode upper-case
// rule, and the A functions see the code page 1252 form.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/text/Text.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const uint8_t* Bytes(const char* text) {
  return reinterpret_cast<const uint8_t*>(text);
}

std::string Utf16File(std::u16string_view text) {
  return "\xFF\xFE" + Utf16LeBytes(text);
}

std::string Utf8File(std::u16string_view text) {
  return Utf16UnitsToUtf8(text);
}

// A registry file as this program writes it in UTF-16LE: sorted, with CRLF
// line ends, Cyrillic and CJK in key names, value names and data, and hex
// data holding UTF-16 text.
const std::u16string kUnicodeExport =
    u"Windows Registry Editor Version 5.00\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n"
    u"\"Count\"=dword:0000002a\r\n"
    u"\"Path\"=\"C:\\\\\u0414\u0430\u043D\u043D\u044B\u0435\\\\\u4E2D\u6587\"\r\n"
    u"\"\u0416\"=\"a\"\r\n"
    u"\"\u0424\"=\"b\"\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Caf\u00E9]\r\n"
    u"\"esz\"=hex(2):25,00,16,04,25,00,00,00\r\n"
    u"\"msz\"=hex(7):2d,4e,00,00,87,65,00,00,00,00\r\n"
    u"\"odd\"=hex(1):16,04,41\r\n"
    u"\"raw\"=hex:d0,96,e4,b8,ad\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\\u0416]\r\n"
    u"\"Name\"=\"\u4E2D\u6587\"\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\\u0424]\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\\U0001F600]\r\n"
    u"@=\"\U0001F600\"\r\n"
    u"\r\n";

// The keys of the reproduction: two keys whose names code page 1252 cannot
// hold, a CJK string, and two such value names in one key.
const std::u16string kReproduction =
    u"Windows Registry Editor Version 5.00\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\\u0416]\r\n"
    u"\"Name\"=\"\u4E2D\u6587\"\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\\u0424]\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Values]\r\n"
    u"\"\u0416\"=\"a\"\r\n"
    u"\"\u0424\"=\"b\"\r\n"
    u"\r\n";

std::shared_ptr<RegistryKeyNode> Parse(const std::string& bytes,
                                       RegistryFileFormat* format = nullptr) {
  auto root = std::make_shared<RegistryKeyNode>();
  std::string error;
  EXPECT_TRUE(ParseRegistryFile(bytes, root.get(), &error, format)) << error;
  return root;
}

// The key at `path` below `root`, or null.
const RegistryKeyNode* Find(const RegistryKeyNode& root, const std::vector<std::u16string>& path) {
  const RegistryKeyNode* key = &root;
  for (const std::u16string& name : path) {
    if (key == nullptr) break;
    key = key->FindSubkey(name);
  }
  return key;
}

// The stored bytes of a value, or "missing".
std::string Data(const RegistryKeyNode& root, const std::vector<std::u16string>& path,
                 std::u16string_view name) {
  const RegistryKeyNode* key = Find(root, path);
  const RegistryValue* value = key ? key->FindValue(name) : nullptr;
  return value ? value->data : "missing";
}

// Text as a value of a string type stores it: UTF-16LE with a final NUL.
std::string Stored(std::u16string_view text) {
  return Utf16LeBytes(text) + std::string(2, '\0');
}

class RegistryUnicodeTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("registry-unicode-test-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Load(PortableRegistry& reg, const std::string& bytes) {
    WriteAll(dir_ / "HKLM.reg", bytes);
    std::string error;
    ASSERT_TRUE(reg.LoadFile(dir_ / "HKLM.reg", &error)) << error;
  }
  // What a run that imports does to the registry: it creates the product
  // key and sets a value in it.
  void CreateProductKey(PortableRegistry& reg) {
    RegKey key = 0;
    ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, "SOFTWARE\\Tandrel\\LUM", &key, nullptr),
              kErrorSuccess);
    reg.SetValue(key, "Version", kRegSz, Bytes("2.5"), 4);
    reg.CloseKey(key);
  }
  std::string Save(PortableRegistry& reg) {
    std::string error;
    EXPECT_TRUE(reg.SaveFile(dir_ / "HKLM.reg", &error)) << error;
    return ReadAll(dir_ / "HKLM.reg");
  }
  // The same product key added straight to a tree.
  static void AddProductKey(RegistryKeyNode* root) {
    bool created = false;
    RegistryKeyNode* key = root;
    for (const char16_t* name : {u"SOFTWARE", u"Tandrel", u"LUM"}) {
      key = key->AddSubkey(name, &created);
    }
    key->SetValue(u"Version", kRegSz, Stored(u"2.5"));
  }

  fs::path dir_;
};

// Reading and looking, creating keys that exist and storing what is there
// already: none of it is a change, so the file is not rewritten. Were it
// saved, the bytes would be the very same.
TEST_F(RegistryUnicodeTest, AUnicodeFileThatNothingChangedStaysByteForByte) {
  PortableRegistry reg;
  const std::string file = Utf16File(kUnicodeExport);
  Load(reg, file);
  RegKey key = 0;
  bool created = true;
  ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, "software\\VENDOR", &key, &created), kErrorSuccess);
  EXPECT_FALSE(created);
  uint32_t count = 0, longest = 0;
  EXPECT_EQ(reg.QueryKeyInfo(key, &count, &longest), kErrorSuccess);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(longest, 4u);  // "Caf" and e acute; the surrogate pair counts two
  char name[16];
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t chars = sizeof name;
    EXPECT_EQ(reg.EnumKey(key, i, name, &chars), kErrorSuccess);
  }
  reg.SetValue(key, "count", kRegDword, Bytes("\x2A\0\0\0"), 4);
  EXPECT_FALSE(reg.Changed());
  uint8_t data[64];
  uint32_t size = sizeof data;
  EXPECT_EQ(reg.QueryValue(key, "Path", nullptr, data, &size), kErrorSuccess);
  // Storing the ANSI form read back would store '?': that is a change.
  reg.CloseKey(key);
  EXPECT_FALSE(reg.Changed());
  EXPECT_EQ(Save(reg), file);
}

// A run that creates the product key writes the file again; everything else
// in it comes back as it was, in Unicode.
TEST_F(RegistryUnicodeTest, AUnicodeFileKeepsEveryNameAndStringThroughARunThatWrites) {
  for (bool utf8 : {false, true}) {
    SCOPED_TRACE(utf8 ? "UTF-8" : "UTF-16LE");
    const std::string file = utf8 ? Utf8File(kUnicodeExport) : Utf16File(kUnicodeExport);
    PortableRegistry reg;
    Load(reg, file);
    CreateProductKey(reg);
    EXPECT_TRUE(reg.Changed());
    const std::string saved = Save(reg);
    ASSERT_TRUE(saved.starts_with(Utf16File(u"Windows Registry Editor Version 5.00\r\n")));

    auto expected = Parse(file);
    AddProductKey(expected.get());
    RegistryFileFormat format = RegistryFileFormat::kAnsi;
    auto reloaded = Parse(saved, &format);
    EXPECT_EQ(format, RegistryFileFormat::kUtf16);
    EXPECT_TRUE(SameRegistryTree(*expected, *reloaded));
    EXPECT_EQ(Data(*reloaded, {u"SOFTWARE", u"Vendor", u"\u0416"}, u"Name"),
              Stored(u"\u4E2D\u6587"));
    EXPECT_EQ(Data(*reloaded, {u"SOFTWARE", u"Vendor", u"\U0001F600"}, u""), Stored(u"\U0001F600"));
  }
}

// Two keys named Zhe and Ef, and two values so named in one key, once turned
// into one key "?" and one value "?" with "??" for the CJK text.
TEST_F(RegistryUnicodeTest, KeysAndValuesCodePage1252CannotNameStayApart) {
  for (bool utf8 : {false, true}) {
    SCOPED_TRACE(utf8 ? "UTF-8" : "UTF-16LE");
    PortableRegistry reg;
    Load(reg, utf8 ? Utf8File(kReproduction) : Utf16File(kReproduction));
    CreateProductKey(reg);
    const std::string saved = Save(reg);
    auto root = Parse(saved);
    const RegistryKeyNode* vendor = Find(*root, {u"SOFTWARE", u"Vendor"});
    ASSERT_NE(vendor, nullptr);
    ASSERT_EQ(vendor->subkeys.size(), 3u);
    EXPECT_NE(Find(*vendor, {u"\u0416"}), nullptr);
    EXPECT_NE(Find(*vendor, {u"\u0424"}), nullptr);
    EXPECT_EQ(Data(*vendor, {u"\u0416"}, u"Name"), Stored(u"\u4E2D\u6587"));
    const RegistryKeyNode* values = Find(*vendor, {u"Values"});
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(values->values.size(), 2u);
    EXPECT_EQ(Data(*values, {}, u"\u0416"), Stored(u"a"));
    EXPECT_EQ(Data(*values, {}, u"\u0424"), Stored(u"b"));

    // The A functions see both keys, each as "?".
    PortableRegistry again;
    Load(again, saved);
    RegKey key = 0;
    ASSERT_EQ(again.OpenKey(kHKeyLocalMachine, "SOFTWARE\\Vendor", &key), kErrorSuccess);
    std::vector<std::string> names;
    char name[8];
    for (uint32_t i = 0;; ++i) {
      uint32_t chars = sizeof name;
      if (again.EnumKey(key, i, name, &chars) != kErrorSuccess) break;
      names.emplace_back(name, chars);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Values", "?", "?"}));
    RegKey missing = 0;
    EXPECT_EQ(again.OpenKey(key, "?", &missing), kErrorFileNotFound);
    again.CloseKey(key);
  }
}

// Letter case is ignored by the Unicode rule: Zhe and zhe are one key, and
// the name keeps the spelling it was first given.
TEST_F(RegistryUnicodeTest, UnicodeNamesIgnoreLetterCase) {
  auto root =
      Parse(Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                      u"[HKEY_LOCAL_MACHINE\\\u0416\u0444]\r\n"
                      u"\"\u0531\"=\"first\"\r\n"
                      u"[HKEY_LOCAL_MACHINE\\\u0436\u0424]\r\n"
                      u"\"\u0561\"=\"second\"\r\n"
                      u"[HKEY_LOCAL_MACHINE\\\uFF41]\r\n"
                      u"[HKEY_LOCAL_MACHINE\\\uFF21]\r\n"
                      u"[HKEY_LOCAL_MACHINE\\\u03C3]\r\n"
                      u"[HKEY_LOCAL_MACHINE\\\u03C2]\r\n"));
  ASSERT_EQ(root->subkeys.size(), 4u);
  const RegistryKeyNode* key = Find(*root, {u"\u0436\u0444"});
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->name, u"\u0416\u0444");
  ASSERT_EQ(key->values.size(), 1u);
  EXPECT_EQ(key->values.begin()->second.name, u"\u0531");
  EXPECT_EQ(Data(*key, {}, u"\u0561"), Stored(u"second"));
  EXPECT_EQ(Find(*root, {u"\uFF21"})->name, u"\uFF41");
  EXPECT_NE(Find(*root, {u"\u03A3"}), Find(*root, {u"\u03C2"}));  // final sigma is apart
}

// The A functions see the code page 1252 form of Unicode data, one byte for
// each UTF-16 code unit, with sizes of that form and the NUL rules as for
// data written through them.
TEST_F(RegistryUnicodeTest, TheAFunctionsSeeTheCodePage1252Form) {
  PortableRegistry reg;
  Load(reg, Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                      u"[HKEY_LOCAL_MACHINE\\K]\r\n"
                      u"\"cjk\"=\"\u4E2D\u6587 \u00E9\u20AC\"\r\n"
                      u"\"pair\"=\"\U0001F600\"\r\n"
                      u"\"nonul\"=hex(1):16,04,36,04\r\n"
                      u"\"odd\"=hex(1):16,04,41\r\n"
                      u"\"multi\"=hex(7):16,04,00,00,24,04,00,00,00,00\r\n"
                      u"\"bin\"=hex:16,04\r\n"));
  RegKey key = 0;
  ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, "k", &key), kErrorSuccess);
  auto query = [&](const char* name, uint32_t capacity, uint32_t* size) {
    uint8_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    *size = capacity;
    uint32_t type = 0;
    uint32_t rc = reg.QueryValue(key, name, &type, buffer, size);
    return std::to_string(rc) + ":" + std::string(reinterpret_cast<char*>(buffer), capacity);
  };
  uint32_t size = 0;
  EXPECT_EQ(reg.QueryValue(key, "cjk", nullptr, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(query("cjk", 8, &size), std::string("0:?? \xE9\x80\0##", 10));
  EXPECT_EQ(query("cjk", 5, &size), "234:#####");
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(query("pair", 4, &size), std::string("0:??\0#", 6));
  EXPECT_EQ(size, 3u);
  // Stored without a NUL: one is put after the data when there is room, not
  // counted, and none when the buffer is exactly the size.
  EXPECT_EQ(query("nonul", 4, &size), std::string("0:??\0#", 6));
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(query("nonul", 2, &size), "0:??");
  EXPECT_EQ(query("odd", 3, &size), std::string("0:?\0#", 5));  // the odd byte is not read
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(query("multi", 6, &size), std::string("0:?\0?\0\0#", 8));
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(query("bin", 3, &size), "0:\x16\x04#");  // binary data stays as stored
  reg.CloseKey(key);
}

// The bytes of hex(2) and hex(7) data are ANSI text in an ANSI file and
// UTF-16LE in a UTF-16 file; what the A functions see of them is the same.
TEST_F(RegistryUnicodeTest, HexTextIsAnsiInAnAnsiFileAndUtf16InAUnicodeFile) {
  const std::string ansi =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\K]\r\n"
      "\"esz\"=hex(2):25,e9,25,00\r\n"
      "\"msz\"=hex(7):61,00,80,00,00\r\n"
      "\r\n";
  const std::string utf16 = Utf16File(
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\K]\r\n"
      u"\"esz\"=hex(2):25,00,e9,00,25,00,00,00\r\n"
      u"\"msz\"=hex(7):61,00,00,00,ac,20,00,00,00,00\r\n"
      u"\r\n");
  auto fromAnsi = Parse(ansi);
  auto fromUtf16 = Parse(utf16);
  EXPECT_TRUE(SameRegistryTree(*fromAnsi, *fromUtf16));
  EXPECT_EQ(Data(*fromAnsi, {u"K"}, u"esz"), Stored(u"%\u00E9%"));
  std::string text, error;
  ASSERT_TRUE(FormatRegistryFile(*fromUtf16, &text, &error, RegistryFileFormat::kAnsi));
  EXPECT_EQ(text, ansi);
  ASSERT_TRUE(FormatRegistryFile(*fromAnsi, &text, &error, RegistryFileFormat::kUtf16));
  EXPECT_EQ(text, utf16);
}

// Which form a file is written back in: an ANSI file as REGEDIT4, whatever
// its header; UTF-16LE and UTF-8 files as UTF-16LE "Version 5.00"; and
// UTF-16LE whenever code page 1252 cannot hold a name or a string.
TEST_F(RegistryUnicodeTest, FilesAreWrittenBackInTheirOwnFormOrInUtf16) {
  struct Case {
    const char* what;
    std::string file;
    RegistryFileFormat read;
  };
  const std::string body = "[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"caf\xC3\xA9\"\r\n";
  const std::vector<Case> cases = {
      {"REGEDIT4", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"caf\xE9\"\r\n",
       RegistryFileFormat::kAnsi},
      {"ANSI Version 5.00",
       "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"caf\xE9\"\r\n",
       RegistryFileFormat::kAnsi},
      {"ASCII Version 5.00",
       "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"cafe\"\r\n",
       RegistryFileFormat::kAnsi},
      {"UTF-8", "Windows Registry Editor Version 5.00\r\n" + body, RegistryFileFormat::kUtf16},
      {"UTF-8 with BOM", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n" + body,
       RegistryFileFormat::kUtf16},
      {"UTF-16 REGEDIT4",
       Utf16File(u"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"caf\u00E9\"\r\n"),
       RegistryFileFormat::kUtf16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PortableRegistry reg;
    Load(reg, c.file);
    CreateProductKey(reg);
    const std::string saved = Save(reg);
    const std::string header = c.read == RegistryFileFormat::kAnsi
                                   ? "REGEDIT4\r\n"
                                   : Utf16File(u"Windows Registry Editor Version 5.00\r\n");
    EXPECT_TRUE(saved.starts_with(header));
    RegistryFileFormat format = RegistryFileFormat::kAnsi;
    auto reloaded = Parse(saved, &format);
    EXPECT_EQ(format, c.read);
    auto original = Parse(c.file);
    AddProductKey(original.get());
    EXPECT_TRUE(SameRegistryTree(*original, *reloaded));
  }

  // A tree that code page 1252 cannot hold, asked for in ANSI.
  for (const char16_t* file :
       {u"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\\u0416]\r\n",
        u"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"\u0416\"=dword:1\r\n",
        u"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"\u0416\"\r\n",
        u"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=hex(2):41,00,42\r\n"}) {
    auto root = Parse(Utf16File(file));
    std::string text, error;
    RegistryFileFormat written = RegistryFileFormat::kAnsi;
    ASSERT_TRUE(FormatRegistryFile(*root, &text, &error, RegistryFileFormat::kAnsi, &written));
    EXPECT_EQ(written, RegistryFileFormat::kUtf16);
    EXPECT_TRUE(text.starts_with("\xFF\xFE"));
    EXPECT_TRUE(SameRegistryTree(*root, *Parse(text)));
  }
}

}  // namespace
