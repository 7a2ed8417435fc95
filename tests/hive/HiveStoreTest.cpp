// The registry of a run kept in a SOFTWARE hive: calls reach the hive's
// keys, the save writes the run's changes and nothing else, keys outside
// SOFTWARE cannot be made, and a registry file that undoes the run brings
// the hive's registry back as it was, as an independent reader sees it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/WinError.h"
#include "platform/hive/HiveEdit.h"
#include "platform/hive/HiveStore.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "platform/portable/text/Text.h"
#include "support/CommandOutput.h"
#include "support/HiveBuilder.h"
#include "support/HiveStructure.h"
#include "support/TempDir.h"

namespace {

constexpr int kJobs = 600;  // enough for the registry to set keys aside

std::string Export(const std::filesystem::path& file) {
  int status = -1;
  std::string output = RegfExport(file, &status);
  EXPECT_EQ(status, 0) << output;
  return output;
}

// A hive as an old installation's machine has it: an uninstall entry and
// a key of another program.
std::filesystem::path MachineHive(const TempDir& dir) {
  const auto file = dir / "SOFTWARE";
  std::ofstream(file, std::ios::binary) << HiveBuilder().Bytes();
  HiveCheck check = HiveCheck::kRefused;
  std::unique_ptr<Hive> hive = Hive::Open(file, true, &check);
  EXPECT_NE(hive, nullptr);
  const Hive::Node root = hive->Root();
  EXPECT_TRUE(hive->Commit(file, [&](HiveEdit& add) {
    Hive::Node node = root, other = 0;
    for (const char16_t* name : {u"Microsoft", u"Windows", u"CurrentVersion", u"Uninstall"}) {
      if (!add.AddKey(node, name, {}, &node)) return false;
    }
    return add.AddKey(node, u"LUM Print Spooler",
                      {{u"UninstallString", 1, std::string("o\0l\0d\0\0\0", 8)}}, &node) &&
           add.AddKey(root, u"Other", {{u"Kept", 4, std::string("\1\0\0\0", 4)}}, &other);
  }));
  return file;
}

struct HiveRun {
  explicit HiveRun(const std::filesystem::path& file) {
    HiveCheck check = HiveCheck::kRefused;
    auto store = HiveStore::Open(file, {}, &check);
    EXPECT_NE(store, nullptr) << static_cast<int>(check);
    if (store) reg.Attach(store);
  }
  RegKey Create(const std::string& path, uint32_t expected = kErrorSuccess) {
    RegKey key = 0;
    EXPECT_EQ(reg.CreateKey(kHKeyLocalMachine, path.c_str(), &key, nullptr), expected) << path;
    return key;
  }
  void SetText(RegKey key, const char* name, const std::string& text) {
    EXPECT_EQ(reg.SetValue(key, name, 1, reinterpret_cast<const uint8_t*>(text.c_str()),
                           static_cast<uint32_t>(text.size() + 1)),
              kErrorSuccess);
  }
  PortableRegistry reg;
};

TEST(HiveStore, ARunsChangesReachTheHiveAndARegistryFileUndoesThem) {
  TempDir dir;
  const auto file = MachineHive(dir);
  const std::string before = Export(file);
  {
    HiveRun run(file);
    RegKey uninstall = run.Create(
        "software\\microsoft\\windows\\currentversion\\uninstall\\"
        "lum print spooler");
    char old[16] = {};
    uint32_t size = sizeof old, type = 0;
    EXPECT_EQ(run.reg.QueryValue(uninstall, "UninstallString", &type,
                                 reinterpret_cast<uint8_t*>(old), &size),
              kErrorSuccess);
    EXPECT_STREQ(old, "old");
    run.SetText(uninstall, "UninstallString", "new");
    run.reg.CloseKey(uninstall);
    for (int j = 0; j < kJobs; ++j) {
      RegKey job = run.Create("SOFTWARE\\Tandrel\\LUM\\Jobs\\cf" + std::to_string(j));
      run.SetText(job, "ControlFileName", "cfA" + std::to_string(j) + "host");
      run.reg.CloseKey(job);
    }
    EXPECT_GT(run.reg.SpilledKeys(), 0u);
    run.Create("SYSTEM\\CurrentControlSet", kErrorAccessDenied);
    std::string error;
    ASSERT_TRUE(run.reg.SaveStore(&error)) << error;
    // The library's copy no longer matches the hive: a second commit of
    // the same store would lose the keys just added, so there is none.
    const std::string committed = ReadAll(file);
    EXPECT_FALSE(run.reg.SaveStore(&error));
    EXPECT_NE(error.find("written once already"), std::string::npos) << error;
    EXPECT_EQ(ReadAll(file), committed);
  }
  const std::string after = Export(file);
  EXPECT_EQ(CheckHiveStructure(ReadAll(file)), "");
  for (const char* text :
       {"LUM Print Spooler", "new", "Tandrel\\LUM\\Jobs\\cf599", "cfA599host", "Other", "Kept"}) {
    EXPECT_NE(after.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(after.find("SYSTEM"), std::string::npos);
  {
    HiveRun undo(file);
    std::string error;
    ASSERT_TRUE(undo.reg.ImportText(
        "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel]\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
        "LUM Print Spooler]\r\n\"UninstallString\"=\"old\"\r\n\r\n",
        &error))
        << error;
    ASSERT_TRUE(undo.reg.SaveStore(&error)) << error;
  }
  EXPECT_EQ(Export(file), before);
  EXPECT_EQ(CheckHiveStructure(ReadAll(file)), "");
}

// A 64-bit Windows keeps the 32-bit programs' SOFTWARE below WOW6432Node:
// the old release's entry is found there, and the run writes there.
TEST(HiveStore, OnA64BitWindowsTheRunWorksInThe32BitView) {
  TempDir dir;
  const auto file = dir / "SOFTWARE";
  std::ofstream(file, std::ios::binary) << HiveBuilder().Bytes();
  {
    HiveCheck check = HiveCheck::kRefused;
    std::unique_ptr<Hive> hive = Hive::Open(file, true, &check);
    ASSERT_NE(hive, nullptr);
    const Hive::Node root = hive->Root();
    ASSERT_TRUE(hive->Commit(file, [&](HiveEdit& add) {
      Hive::Node wow64 = 0, entry = 0;
      return add.AddKey(root, u"Wow6432Node", {}, &wow64) &&
             add.AddKey(wow64, u"OldVendor", {{u"Seen", 4, std::string("\1\0\0\0", 4)}}, &entry);
    }));
  }
  {
    HiveRun run(file);
    RegKey key = 0;
    ASSERT_EQ(run.reg.OpenKey(kHKeyLocalMachine, "SOFTWARE\\OldVendor", &key), kErrorSuccess);
    run.reg.CloseKey(key);
    run.reg.CloseKey(run.Create("SOFTWARE\\Tandrel\\LUM"));
    std::string error;
    ASSERT_TRUE(run.reg.SaveStore(&error)) << error;
  }
  const std::string exported = Export(file);
  EXPECT_NE(exported.find("ROOT\\Wow6432Node\\Tandrel\\LUM"), std::string::npos) << exported;
  EXPECT_EQ(exported.find("ROOT\\Tandrel"), std::string::npos) << exported;
}

TEST(HiveStore, KeysOutsideSoftwareAreNeverWritten) {
  TempDir dir;
  const auto file = MachineHive(dir);
  const std::string bytes = ReadAll(file);
  HiveRun run(file);
  std::string error;
  ASSERT_TRUE(run.reg.ImportText(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\X]\r\n\"a\"=\"b\"\r\n", &error))
      << error;
  EXPECT_FALSE(run.reg.SaveStore(&error));
  EXPECT_NE(error.find("outside"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(file), bytes);
}

// Whatever a run can write, the way back can delete: here a key of more
// subkeys than libhivex reads (70,000).
TEST(HiveStore, AKeyOfManySubkeysIsReadAndDeletedWhole) {
  TempDir dir;
  const auto file = MachineHive(dir);
  const std::string before = Export(file);
  {
    HiveCheck check = HiveCheck::kRefused;
    std::unique_ptr<Hive> hive = Hive::Open(file, true, &check);
    ASSERT_NE(hive, nullptr);
    ASSERT_TRUE(hive->Commit(file, [&](HiveEdit& add) {
      Hive::Node many = 0, job = 0;
      if (!add.AddKey(hive->Root(), u"Many", {}, &many)) return false;
      for (int j = 0; j < 71000; ++j) {
        std::u16string name = u"cf" + Cp1252ToUtf16(std::to_string(j));
        if (!add.AddKey(many, name, {{u"n", 4, std::string("\1\0\0\0", 4)}}, &job)) return false;
      }
      return true;
    }));
  }
  {
    HiveRun undo(file);
    RegKey many = 0;
    uint32_t subkeys = 0;
    ASSERT_EQ(undo.reg.OpenKey(kHKeyLocalMachine, "SOFTWARE\\Many", &many), kErrorSuccess);
    ASSERT_EQ(undo.reg.QueryKeyInfo(many, &subkeys, nullptr), kErrorSuccess);
    EXPECT_EQ(subkeys, 71000u);
    undo.reg.CloseKey(many);
    std::string error;
    ASSERT_TRUE(
        undo.reg.ImportText("REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Many]\r\n", &error))
        << error;
    ASSERT_TRUE(undo.reg.SaveStore(&error)) << error;
  }
  EXPECT_EQ(Export(file), before);
  EXPECT_EQ(CheckHiveStructure(ReadAll(file)), "");
}

// A hive older than version 1.5 lists its keys by hints of one byte per
// character: a name beyond U+00FF is refused when the key is to be made,
// so that the commit never has to.
TEST(HiveStore, AnOldHiveRefusesANameItCannotListWhenTheKeyIsMade) {
  TempDir dir;
  const auto file = dir / "SOFTWARE";
  std::string old = HiveBuilder().Bytes();
  old[24] = 3;  // version 1.3
  const uint32_t sum = HiveHeaderChecksum(old);
  std::memcpy(old.data() + 508, &sum, 4);
  std::ofstream(file, std::ios::binary) << old;
  {
    HiveRun run(file);
    run.Create("SOFTWARE\\LUM\\\x80uro", kErrorBadKey);  // the euro sign, U+20AC
    run.reg.CloseKey(run.Create("SOFTWARE\\LUM\\B\xFCro"));
    std::string error;
    ASSERT_TRUE(run.reg.SaveStore(&error)) << error;
  }
  EXPECT_NE(Export(file).find("LUM\\B\xC3\xBCro"), std::string::npos);
  EXPECT_EQ(CheckHiveStructure(ReadAll(file)), "");
}

}  // namespace
