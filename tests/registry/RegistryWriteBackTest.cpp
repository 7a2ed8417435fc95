// What a run writes back into a registry file it read: every key the run
// did not change exactly as the file has it, the keys it changed written
// anew, and what the file deletes or says twice with the same meaning as
// when it was read.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "platform/WinError.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/text/Text.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::string Ansi(std::u16string_view text) {
  return Utf16ToCp1252(text);
}

std::string Utf16File(std::u16string_view text) {
  return "\xFF\xFE" + Utf16LeBytes(text);
}

std::shared_ptr<RegistryKeyNode> Parse(const std::string& bytes) {
  auto root = std::make_shared<RegistryKeyNode>();
  std::string error;
  EXPECT_TRUE(ParseRegistryFile(bytes, root.get(), &error)) << error;
  return root;
}

RegistryKeyNode* AddPath(RegistryKeyNode* root, std::initializer_list<const char16_t*> names) {
  bool created = false;
  for (const char16_t* name : names) root = root->AddSubkey(name, &created);
  return root;
}

// Text as a value of a string type stores it: UTF-16LE with a final NUL.
std::string Stored(std::u16string_view text) {
  return Utf16LeBytes(text) + std::string(2, '\0');
}

class RegistryWriteBackTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("registry-write-back-test-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Loads `bytes` as HKLM.reg, lets `run` work on the registry, saves it
  // and gives back what the file then holds.
  std::string RunOn(const std::string& bytes, const std::function<void(PortableRegistry&)>& run) {
    WriteAll(dir_ / "HKLM.reg", bytes);
    PortableRegistry reg;
    std::string error;
    EXPECT_TRUE(reg.LoadFile(dir_ / "HKLM.reg", &error)) << error;
    run(reg);
    EXPECT_TRUE(reg.Changed());
    EXPECT_TRUE(reg.SaveFile(dir_ / "HKLM.reg", &error)) << error;
    return ReadAll(dir_ / "HKLM.reg");
  }

  // The registry's answers for one value: its type and bytes, or "missing".
  static std::string Value(PortableRegistry& reg, const char* path, const char* name) {
    RegKey key = 0;
    if (reg.OpenKey(kHKeyLocalMachine, path, &key) != kErrorSuccess) return "no key";
    uint32_t type = 0, size = 0;
    std::string data;
    if (reg.QueryValue(key, name, &type, nullptr, &size) == kErrorSuccess) {
      data.resize(size);
      reg.QueryValue(key, name, nullptr, reinterpret_cast<uint8_t*>(data.data()), &size);
      data = std::to_string(type) + ":" + data;
    } else {
      data = "missing";
    }
    reg.CloseKey(key);
    return data;
  }

  static void Set(PortableRegistry& reg, const char* path, const char* name, uint32_t type,
                  const std::string& data) {
    RegKey key = 0;
    ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, path, &key, nullptr), kErrorSuccess);
    reg.SetValue(key, name, type, reinterpret_cast<const uint8_t*>(data.c_str()),
                 static_cast<uint32_t>(data.size()));
    reg.CloseKey(key);
  }

  // What an import does: the product key with one value.
  static void CreateProductKey(PortableRegistry& reg) {
    Set(reg, "SOFTWARE\\Tandrel\\LUM", "Version", kRegSz, std::string("2.5\0", 4));
  }
  static void AddProductKey(RegistryKeyNode* root) {
    AddPath(root, {u"SOFTWARE", u"Tandrel", u"LUM"})->SetValue(u"Version", kRegSz, Stored(u"2.5"));
  }

  fs::path dir_;
};

// An export of a machine, with a key written by hand as regedit never
// writes one. The run creates the product key and changes one value of
// another key: the file comes back byte for byte but for that key, written
// anew, and the product key in its sorted place.
TEST_F(RegistryWriteBackTest, AnUntouchedKeyIsWrittenBackAsTheFileHasIt) {
  for (bool utf16 : {false, true}) {
    SCOPED_TRACE(utf16 ? "UTF-16LE" : "REGEDIT4");
    // hex(2) bytes are the file's own text: ANSI or UTF-16LE.
    const std::u16string expand = utf16 ? u"25,00,78,00,e9,00,25,00,00,00" : u"25,78,e9,25,00";
    const std::u16string text = utf16 ? u"\u4E2D\u6587" : u"Caf\u00E9";
    auto file = [&](std::u16string_view app) {
      return std::u16string(utf16 ? u"Windows Registry Editor Version 5.00" : u"REGEDIT4") +
             u"\r\n"
             u"\r\n"
             u"[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
             u"\r\n"
             u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha]\r\n"
             u"; kept as written\r\n"
             u"  \"Path\" = \"C:\\\\Alpha\"   ; after the value\r\n"
             u"\"Short\"=DWORD:2a\r\n"
             u"\"Bytes\"=hex:00, 01 ,\\\r\n"
             u"    02\r\n"
             u"\"Expand\"=hex(2):" +
             expand +
             u"\r\n"
             u"\"Text\"=\"" +
             text +
             u"\"\n"
             u"\r\n" +
             std::u16string(app) +
             u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Zeta]\r\n"
             u"\"z\"=\"last\"\r\n"
             u"\r\n";
    };
    const std::u16string app =
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App]\r\n"
        u"\"Name\"=\"" +
        text +
        u"\"\r\n"
        u"\"Count\"=dword:00000001\r\n"
        u"\r\n";
    const std::u16string changed =
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM]\r\n"
        u"\"Version\"=\"2.5\"\r\n"
        u"\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App]\r\n"
        u"\"Count\"=dword:00000002\r\n"
        u"\"Name\"=\"" +
        text +
        u"\"\r\n"
        u"\r\n";
    auto bytes = [&](std::u16string_view t) { return utf16 ? Utf16File(t) : Ansi(t); };
    std::string saved = RunOn(bytes(file(app)), [](PortableRegistry& reg) {
      CreateProductKey(reg);
      Set(reg, "software\\vendor\\app", "count", kRegDword, std::string("\2\0\0\0", 4));
    });
    EXPECT_EQ(saved, bytes(file(changed)));
  }
}

// "[-key]" lines delete a key with everything below it, stretches of the
// file before them included; the lines after them belong to no key; a key
// made again after its deletion starts empty; "name"=- deletes a value.
// None of it comes back through a run that writes the file again.
TEST_F(RegistryWriteBackTest, WhatTheFileDeletesStaysDeleted) {
  const std::string file =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\A]\r\n"
      "\"kept\"=\"a\"\r\n"
      "\"dropped\"=\"a\"\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\Gone\\Deep]\r\n"
      "\"v\"=\"deep\"\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\Again]\r\n"
      "\"old\"=\"before the deletion\"\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\Again\\Sub]\r\n"
      "[-HKEY_LOCAL_MACHINE\\A\\Gone]\r\n"
      "\"ignored\"=\"under a deleted key\"\r\n"
      "[-HKEY_LOCAL_MACHINE\\A\\Again]\r\n"
      "[-HKEY_LOCAL_MACHINE\\A\\NeverWas]\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\again]\r\n"
      "\"new\"=\"after the deletion\"\r\n"
      "[HKEY_LOCAL_MACHINE\\A]\r\n"
      "\"dropped\"=-\r\n";
  auto check = [](PortableRegistry& reg) {
    RegKey key = 0;
    EXPECT_EQ(reg.OpenKey(kHKeyLocalMachine, "A\\Gone", &key), kErrorFileNotFound);
    EXPECT_EQ(reg.OpenKey(kHKeyLocalMachine, "A\\Again\\Sub", &key), kErrorFileNotFound);
    EXPECT_EQ(Value(reg, "A", "kept"), std::string("1:a\0", 4));
    EXPECT_EQ(Value(reg, "A", "dropped"), "missing");
    EXPECT_EQ(Value(reg, "A\\Again", "old"), "missing");
    EXPECT_EQ(Value(reg, "A\\Again", "new"), std::string("1:after the deletion\0", 21));
    ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, "A", &key), kErrorSuccess);
    char name[16];
    uint32_t chars = sizeof name, count = 0;
    EXPECT_EQ(reg.QueryKeyInfo(key, &count, nullptr), kErrorSuccess);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(reg.EnumKey(key, 0, name, &chars), kErrorSuccess);
    EXPECT_EQ(std::string(name, chars), "again");  // made anew, with the new spelling
    reg.CloseKey(key);
  };
  // Whether a call reads a key before the run writes the file or not.
  for (bool lookFirst : {false, true}) {
    SCOPED_TRACE(lookFirst ? "read before" : "not read before");
    std::string saved = RunOn(file, [&](PortableRegistry& reg) {
      if (lookFirst) check(reg);
      CreateProductKey(reg);
    });
    EXPECT_EQ(saved.find("[-"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("ignored"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("before the deletion"), std::string::npos) << saved;
    auto expected = Parse(file);
    AddProductKey(expected.get());
    EXPECT_TRUE(SameRegistryTree(*Parse(saved), *expected)) << saved;
    PortableRegistry again;
    std::string error;
    ASSERT_TRUE(again.LoadFile(dir_ / "HKLM.reg", &error)) << error;
    check(again);
  }
}

// A key whose lines come in two places of the file has the values of both,
// the later lines overriding and deleting what the earlier ones set, and
// the spelling of its first line; also when the run changes that key.
TEST_F(RegistryWriteBackTest, AKeyThatAppearsTwiceKeepsTheValuesOfBoth) {
  const std::string file =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Twice]\r\n"
      "\"a\"=\"first\"\r\n"
      "\"b\"=\"first\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Between]\r\n"
      "\"x\"=dword:00000001\r\n"
      "\r\n"
      "[hkey_local_machine\\TWICE]\r\n"
      "\"B\"=\"second\"\r\n"
      "\"a\"=-\r\n"
      "\"c\"=\"second\"\r\n";
  auto check = [](PortableRegistry& reg) {
    EXPECT_EQ(Value(reg, "twice", "a"), "missing");
    EXPECT_EQ(Value(reg, "twice", "b"), std::string("1:second\0", 9));
    EXPECT_EQ(Value(reg, "twice", "c"), std::string("1:second\0", 9));
    std::set<std::string> names;
    char name[16];
    for (uint32_t i = 0, chars = sizeof name;
         reg.EnumKey(kHKeyLocalMachine, i, name, &chars) == kErrorSuccess;
         ++i, chars = sizeof name) {
      names.emplace(name, chars);
    }
    EXPECT_EQ(names.count("Twice"), 1u);
  };
  for (bool changeIt : {false, true}) {
    SCOPED_TRACE(changeIt ? "the key changed" : "the key untouched");
    std::string saved = RunOn(file, [&](PortableRegistry& reg) {
      check(reg);
      CreateProductKey(reg);
      if (changeIt) Set(reg, "Twice", "d", kRegDword, std::string("\4\0\0\0", 4));
    });
    auto expected = Parse(file);
    AddProductKey(expected.get());
    if (changeIt) {
      expected->FindSubkey(u"Twice")->SetValue(u"d", kRegDword, std::string("\4\0\0\0", 4));
    }
    auto reread = Parse(saved);
    EXPECT_TRUE(SameRegistryTree(*reread, *expected)) << saved;
    ASSERT_NE(reread->FindSubkey(u"twice"), nullptr);
    EXPECT_EQ(reread->FindSubkey(u"twice")->values.size(), changeIt ? 3u : 2u);
    PortableRegistry again;
    std::string error;
    ASSERT_TRUE(again.LoadFile(dir_ / "HKLM.reg", &error)) << error;
    check(again);
    EXPECT_EQ(Value(again, "Twice", "d"), changeIt ? std::string("4:\4\0\0\0", 6) : "missing");
  }
}

// Keys listed out of order, in different letter case, enumerate sorted by
// their upper-case names with the spelling they were first given; the file
// written back lists them so.
TEST_F(RegistryWriteBackTest, KeysOutOfOrderEnumerateSortedAndAreWrittenSorted) {
  const std::string file =
      "REGEDIT4\r\n"
      "[HKEY_LOCAL_MACHINE\\S\\b]\r\n"
      "[HKEY_LOCAL_MACHINE\\s\\A\\x]\r\n"
      "\"v\"=\"x\"\r\n"
      "[HKEY_LOCAL_MACHINE\\S\\a]\r\n"
      "\"v\"=\"a\"\r\n"
      "[HKEY_LOCAL_MACHINE\\S\\_]\r\n"
      "[HKEY_LOCAL_MACHINE\\S\\C]\r\n";
  std::string saved = RunOn(file, [](PortableRegistry& reg) {
    RegKey key = 0;
    ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, "s", &key), kErrorSuccess);
    std::string names;
    char name[8];
    for (uint32_t i = 0;; ++i) {
      uint32_t chars = sizeof name;
      if (reg.EnumKey(key, i, name, &chars) != kErrorSuccess) break;
      names += std::string(name, chars) + " ";
    }
    EXPECT_EQ(names, "A b C _ ");
    reg.CloseKey(key);
    CreateProductKey(reg);
  });
  EXPECT_EQ(saved,
            "REGEDIT4\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\S\\A]\r\n"
            "\"v\"=\"a\"\r\n"
            "[HKEY_LOCAL_MACHINE\\S\\A\\x]\r\n"
            "\"v\"=\"x\"\r\n"
            "[HKEY_LOCAL_MACHINE\\S\\b]\r\n"
            "[HKEY_LOCAL_MACHINE\\S\\C]\r\n"
            "[HKEY_LOCAL_MACHINE\\S\\_]\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM]\r\n"
            "\"Version\"=\"2.5\"\r\n"
            "\r\n");
}

// A file's last line may end without a line end, or with a CR alone: the
// keys written after it still start on lines of their own.
TEST_F(RegistryWriteBackTest, ALastLineWithoutItsLineEndStaysALineOfItsOwn) {
  for (const std::string end : {"", "\r", " ; comment"}) {
    SCOPED_TRACE("file ends with \"" + end + "\"");
    std::string file = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"x\"" + end;
    std::string saved = RunOn(
        file, [](PortableRegistry& reg) { Set(reg, "B", "w", kRegSz, std::string("y\0", 2)); });
    EXPECT_EQ(saved, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"x\"" + end +
                         (end == "\r" ? "\n" : "\r\n") +
                         "[HKEY_LOCAL_MACHINE\\B]\r\n\"w\"=\"y\"\r\n\r\n");
    PortableRegistry again;
    std::string error;
    ASSERT_TRUE(again.LoadFile(dir_ / "HKLM.reg", &error)) << error;
    EXPECT_EQ(Value(again, "A", "v"), std::string("1:x\0", 4));
    EXPECT_EQ(Value(again, "B", "w"), std::string("1:y\0", 4));
  }
}

// Text that is not in the form it is written back in: an ANSI file with a
// "Version 5.00" header goes back as REGEDIT4, all else as it was; a UTF-8
// file goes back as UTF-16LE with every line carried over, comments too,
// and the bytes of hex(1), hex(2) and hex(7) text turned from ANSI into
// UTF-16LE, still as hex bytes, a missing NUL still missing.
TEST_F(RegistryWriteBackTest, TextInAnotherFormIsCarriedOverLineByLine) {
  const std::string body =
      "\r\n"
      "; exported by hand\r\n"
      "[HKEY_LOCAL_MACHINE\\K]\r\n"
      "\"esz\"=hex(2):25,e9,25,00 ; percent\r\n"
      "\"sz\"=hex(1):41,\\\r\n"
      "  42\r\n"
      "\"bin\"=hex:e9,25\r\n"
      "\"gone\"=-\r\n";
  std::string saved = RunOn(
      "Windows Registry Editor Version 5.00\r\n" + body + "\"t\"=\"\xE9\"\r\n", CreateProductKey);
  EXPECT_EQ(saved,
            "REGEDIT4\r\n" + body + "\"t\"=\"\xE9\"\r\n" +
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM]\r\n\"Version\"=\"2.5\"\r\n\r\n");

  saved = RunOn("Windows Registry Editor Version 5.00\r\n" + body + "\"t\"=\"\xE4\xB8\xAD\"\r\n",
                CreateProductKey);
  EXPECT_EQ(saved, Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                             u"\r\n"
                             u"; exported by hand\r\n"
                             u"[HKEY_LOCAL_MACHINE\\K]\r\n"
                             u"\"esz\"=hex(2):25,00,e9,00,25,00,00,00\r\n"
                             u"\"sz\"=hex(1):41,00,42,00\r\n"
                             u"\"bin\"=hex:e9,25\r\n"
                             u"\"gone\"=-\r\n"
                             u"\"t\"=\"\u4E2D\"\r\n"
                             u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM]\r\n"
                             u"\"Version\"=\"2.5\"\r\n"
                             u"\r\n"));
  PortableRegistry again;
  std::string error;
  ASSERT_TRUE(again.LoadFile(dir_ / "HKLM.reg", &error)) << error;
  EXPECT_EQ(Value(again, "K", "esz"), std::string("2:%\xE9%\0", 6));
  EXPECT_EQ(Value(again, "K", "sz"), "1:AB");
  EXPECT_EQ(Value(again, "K", "t"), std::string("1:?\0", 4));
}

// A save that cannot be completed leaves the folder as it was: the old file
// whole, and no new file beside it.
TEST_F(RegistryWriteBackTest, AFailedSaveLeavesNothingBehind) {
  const std::string file = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"x\"\r\n";
  WriteAll(dir_ / "HKLM.reg", file);
  PortableRegistry reg;
  std::string error;
  ASSERT_TRUE(reg.LoadFile(dir_ / "HKLM.reg", &error)) << error;
  Set(reg, "A\\line\nbreak", "v", kRegSz, "x");
  EXPECT_FALSE(reg.SaveFile(dir_ / "HKLM.reg", &error));
  EXPECT_NE(error.find("line break"), std::string::npos) << error;
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names, std::set<std::string>{"HKLM.reg"});
  EXPECT_EQ(ReadAll(dir_ / "HKLM.reg"), file);
}

}  // namespace

// An undo file applied to a registry file reads only the keys it names:
// every other key, however large the file, is written back as it stood
// (its odd spacing and comments too), so --restore costs little more
// than the file's text, as a run does.
TEST_F(RegistryWriteBackTest, AnImportedUndoFileTouchesOnlyTheKeysItNames) {
  std::string file = "REGEDIT4\r\n\r\n";
  for (int i = 0; i < 2000; ++i) {
    file += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Big\\K" + std::to_string(i) +
            "]\r\n\"v\" = \"x\" ; kept\r\n";
  }
  file += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM]\r\n\"Port\"=dword:00000204\r\n";
  file += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM\\Queues]\r\n";
  PortableRegistry reg;
  std::string error;
  WriteAll(dir_ / "HKLM.reg", file);
  ASSERT_TRUE(reg.LoadFile(dir_ / "HKLM.reg", &error)) << error;
  ASSERT_TRUE(
      reg.ImportText("REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM\\Queues]"
                     "\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel\\LUM]\r\n"
                     "\"Port\"=dword:0000238c\r\n",
                     &error))
      << error;
  ASSERT_TRUE(reg.SaveFile(dir_ / "HKLM.reg", &error)) << error;
  std::string saved = ReadAll(dir_ / "HKLM.reg");
  EXPECT_NE(saved.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Big\\K1999]\r\n\"v\" = \"x\" ; kept\r\n"),
            std::string::npos);
  EXPECT_NE(saved.find("\"Port\"=dword:0000238c"), std::string::npos)
      << saved.substr(saved.size() - 200);
  EXPECT_EQ(saved.find("Queues"), std::string::npos);
  EXPECT_EQ(Value(reg, "SOFTWARE\\Big\\K7", "v"), Value(reg, "SOFTWARE\\Big\\K8", "v"));
  EXPECT_FALSE(
      reg.ImportText("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Big\\K1]\r\n\"v\"=dword:1\r\n"
                     "[-HKEY_LOCAL_MACHI\r\n",
                     &error));
  EXPECT_EQ(Value(reg, "SOFTWARE\\Big\\K1", "v"), Value(reg, "SOFTWARE\\Big\\K8", "v"))
      << "a faulty file changes nothing";
}
