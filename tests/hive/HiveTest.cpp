// Hives as the Linux program opens and changes them: one built in code is
// read by libhivex and by libregf's regfexport, a reader of its own; headers
// that Windows leaves dirty, damaged ones and files that are no hive are
// refused before the library sees them; changes are committed whole, and
// what the library would write wrongly never reaches it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>

#include "platform/hive/Hive.h"
#include "platform/hive/HiveEdit.h"
#include "platform/portable/text/Text.h"
#include "support/CommandOutput.h"
#include "support/HiveBuilder.h"
#include "support/HiveLists.h"
#include "support/HiveStructure.h"
#include "support/TempDir.h"

namespace {

std::filesystem::path Write(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

TEST(Hive, AnEmptyHiveBuiltInCodeOpensInTwoIndependentReaders) {
  TempDir dir;
  const auto file = Write(dir / "SOFTWARE", HiveBuilder("ROOT").Bytes());
  HiveCheck check = HiveCheck::kRefused;
  HiveHeader header;
  std::unique_ptr<Hive> hive = Hive::Open(file, false, &check, &header);
  ASSERT_NE(hive, nullptr) << static_cast<int>(check);
  EXPECT_EQ(header.rootCell, HiveBuilder::kRootCell);
  std::u16string name;
  ASSERT_TRUE(hive->Name(hive->Root(), &name));
  EXPECT_EQ(name, u"ROOT");
  std::vector<Hive::Node> subkeys = {1};
  ASSERT_TRUE(hive->Subkeys(hive->Root(), &subkeys));
  EXPECT_TRUE(subkeys.empty());
  EXPECT_NE(Hive::Open(file, true, &check), nullptr);

  int status = -1;
  std::string exported = RegfExport(file, &status);
  EXPECT_EQ(status, 0) << exported;
  EXPECT_NE(exported.find("ROOT"), std::string::npos) << exported;
}

TEST(Hive, DirtyDamagedAndForeignFilesAreRefusedBeforeTheLibraryOpensThem) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string bytes;
    HiveCheck expected;
  };
  const std::string good = HiveBuilder().Bytes();
  std::string shortFile = good.substr(0, 4000);
  std::string log = good;
  log[28] = 1;                                 // a transaction log, not the hive
  std::string cutBins = good.substr(0, 6000);  // fewer bytes than the bins the header counts
  std::string unknownVersion = good;
  unknownVersion[20] = 2;
  const Case cases[] = {
      {"an empty file", "", HiveCheck::kNotAHive},
      {"a text file", std::string(8192, 'x'), HiveCheck::kNotAHive},
      {"a base block cut short", shortFile, HiveCheck::kNotAHive},
      {"a hive Windows did not shut down", HiveBuilder().SecondarySequence(7).Bytes(),
       HiveCheck::kDirty},
      {"a wrong checksum", HiveBuilder().Checksum(0x12345678).Bytes(), HiveCheck::kDamaged},
      {"bins cut short", cutBins, HiveCheck::kDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HiveCheck check = HiveCheck::kOk;
    EXPECT_EQ(Hive::Open(Write(dir / "hive", c.bytes), true, &check), nullptr);
    EXPECT_EQ(check, c.expected);
  }
  // A block with its checksum made right again is checked for what it holds.
  for (std::string* bytes : {&log, &unknownVersion}) {
    HiveHeader header;
    uint32_t sum = HiveHeaderChecksum(*bytes);
    std::memcpy(bytes->data() + 508, &sum, 4);
    EXPECT_EQ(CheckHiveHeader(*bytes, bytes->size(), &header), HiveCheck::kUnsupported);
  }
  HiveCheck check = HiveCheck::kOk;
  EXPECT_EQ(Hive::Open(dir / "missing", false, &check), nullptr);
  EXPECT_EQ(check, HiveCheck::kUnreadable);
}

HiveValue Text(std::u16string name, std::u16string_view text) {
  std::string data;
  for (char16_t unit : text) {
    data.push_back(static_cast<char>(unit & 0xFF));
    data.push_back(static_cast<char>(unit >> 8));
  }
  data.append(2, '\0');
  return {std::move(name), 1, data};  // REG_SZ
}

std::unique_ptr<Hive> OpenForWriting(const std::filesystem::path& file) {
  HiveCheck check = HiveCheck::kRefused;
  std::unique_ptr<Hive> hive = Hive::Open(file, true, &check);
  EXPECT_NE(hive, nullptr) << static_cast<int>(check);
  return hive;
}

TEST(Hive, ChangesAreCommittedWholeAndReadBackByBothReaders) {
  TempDir dir;
  const auto file = Write(dir / "SOFTWARE", HiveBuilder().Bytes());
  // What a commit cut short by a power cut left, and files of others.
  Write(dir / ".~hive12.tmp", "half a hive");
  Write(dir / ".~hive12.tmp.keep", "not ours");
  Write(dir / "notes.tmp", "not ours");
  {
    std::unique_ptr<Hive> hive = OpenForWriting(file);
    ASSERT_NE(hive, nullptr);
    const Hive::Node root = hive->Root();
    const std::vector<HiveValue> values = {Text(u"", u"default"),
                                           Text(u"Version", u"1.0"),
                                           {u"Count", 4, std::string("\x2A\0\0\0", 4)},
                                           {u"Empty", 3, ""},
                                           Text(u"Pfad", u"C:\\Gr\u00FC\u00DFe")};
    ASSERT_TRUE(hive->Commit(file, [&](HiveEdit& add) {
      Hive::Node vendor = 0, lum = 0;
      return add.AddKey(root, u"Tandrel", {}, &vendor) && add.AddKey(vendor, u"LUM", values, &lum);
    }));
  }
  HiveCheck check = HiveCheck::kRefused;
  std::unique_ptr<Hive> hive = Hive::Open(file, false, &check);
  ASSERT_NE(hive, nullptr) << static_cast<int>(check);
  Hive::Node vendor = 0, lum = 0;
  ASSERT_TRUE(hive->Child(hive->Root(), u"tandrel", &vendor));
  ASSERT_TRUE(hive->Child(vendor, u"lum", &lum));
  std::vector<HiveValue> values;
  ASSERT_TRUE(hive->Values(lum, &values));
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[2].name, u"Count");
  EXPECT_EQ(values[2].data, std::string("\x2A\0\0\0", 4));
  EXPECT_EQ(values[3].data, "");
  EXPECT_EQ(values[4].data, Text(u"", u"C:\\Gr\u00FC\u00DFe").data);
  std::u16string name;
  ASSERT_TRUE(hive->Name(lum, &name));
  EXPECT_EQ(name, u"LUM");
  EXPECT_EQ(CheckHiveStructure(ReadAll(file)), "");
  int status = -1;
  std::string exported = RegfExport(file, &status);
  EXPECT_EQ(status, 0) << exported;
  for (const char* text : {"ROOT\\Tandrel\\LUM", "Version", "1.0", "Count", "Empty"}) {
    EXPECT_NE(exported.find(text), std::string::npos) << text << " in\n" << exported;
  }
  // No temporary file is left beside the hive, the earlier one included.
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    left.insert(entry.path().filename().string());
  }
  EXPECT_EQ(left, (std::set<std::string>{"SOFTWARE", ".~hive12.tmp.keep", "notes.tmp"}));
}

// Windows finds a subkey through its list's order and hashes: names are
// sorted by their upper-case UTF-16 form, so [ \ ] ^ _ ` come after the
// letters and \u00C4 (upper case of \u00E4) after Z, and hashed over it.
// A key that gets subkeys in a second commit keeps its first ones in the
// same list; one with more than a leaf holds gets an index root.
TEST(Hive, SubkeysAreListedInTheOrderAndWithTheHashesWindowsLooksThemUpBy) {
  TempDir dir;
  const std::string empty = HiveBuilder().Bytes();
  const auto file = Write(dir / "SOFTWARE", empty);
  const std::vector<std::u16string> first = {u"A`b", u"a[", u"AZ",  u"A_b",
                                             u"Ab",  u"A]", u"A^b", u"Queue 1"};
  const std::vector<std::u16string> second = {
      u"queue 10",      u"QUEUE 2",    u"B\u00FCro",          u"\u00E4rger",
      u"\u00C9t\u00E9", u"\u00DCbung", u"\u0416\u0443\u043A", u"\u20ACuro"};
  Hive::Node queues = 0;
  for (const auto* names : {&first, &second}) {
    std::unique_ptr<Hive> hive = OpenForWriting(file);
    ASSERT_NE(hive, nullptr);
    const Hive::Node root = hive->Root();
    if (names == &second) {
      ASSERT_TRUE(hive->Child(root, u"queues", &queues));
    }
    ASSERT_TRUE(hive->Commit(file, [&](HiveEdit& add) {
      Hive::Node key = 0;
      if (names == &first && !add.AddKey(root, u"Queues", {}, &queues)) return false;
      for (const std::u16string& name : *names) {
        if (!add.AddKey(queues, name, {}, &key)) return false;
      }
      return true;
    }));
  }
  const std::string committed = ReadAll(file);
  EXPECT_EQ(CheckHiveStructure(committed), "");
  HiveSubkeyList list = ReadHiveSubkeyList(committed, {u"queues"});
  ASSERT_TRUE(list.readable);
  EXPECT_TRUE(list.hashesRight);
  const std::vector<std::u16string> windowsOrder = {u"Ab",
                                                    u"AZ",
                                                    u"a[",
                                                    u"A]",
                                                    u"A^b",
                                                    u"A_b",
                                                    u"A`b",
                                                    u"B\u00FCro",
                                                    u"Queue 1",
                                                    u"queue 10",
                                                    u"QUEUE 2",
                                                    u"\u00E4rger",
                                                    u"\u00C9t\u00E9",
                                                    u"\u00DCbung",
                                                    u"\u0416\u0443\u043A",
                                                    u"\u20ACuro"};
  EXPECT_EQ(list.names, windowsOrder);
  // Found again in any letter case, by Windows' rule, and spelled as made.
  HiveCheck check = HiveCheck::kRefused;
  std::unique_ptr<Hive> hive = Hive::Open(file, false, &check);
  ASSERT_NE(hive, nullptr);
  Hive::Node found = 0;
  ASSERT_TRUE(hive->Child(hive->Root(), u"QUEUES", &queues));
  ASSERT_TRUE(hive->Child(queues, u"B\u00DCRO", &found));
  std::u16string name;
  ASSERT_TRUE(hive->Name(found, &name));
  EXPECT_EQ(name, u"B\u00FCro");

  // Many subkeys: leaves below an index root, in one order across them.
  {
    std::unique_ptr<Hive> writer = OpenForWriting(file);
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(writer->Child(writer->Root(), u"Queues", &queues));
    ASSERT_TRUE(writer->Commit(file, [&](HiveEdit& add) {
      Hive::Node key = 0;
      for (int i = 0; i < 1200; ++i) {
        if (!add.AddKey(queues, u"Job " + Utf8ToUtf16(std::to_string(i)), {}, &key)) return false;
      }
      return true;
    }));
  }
  const std::string many = ReadAll(file);
  EXPECT_EQ(CheckHiveStructure(many), "");
  list = ReadHiveSubkeyList(many, {u"Queues"});
  ASSERT_TRUE(list.readable);
  EXPECT_TRUE(list.hashesRight);
  ASSERT_EQ(list.names.size(), 1216u);
  EXPECT_TRUE(std::is_sorted(list.names.begin(), list.names.end(),
                             [](const std::u16string& a, const std::u16string& b) {
                               return UnicodeNameKey(a) < UnicodeNameKey(b);
                             }));
  EXPECT_EQ(list.leaves, 3u);
}

// Adding keys leaves every byte the change does not need as it was: the
// new keys lie in new bins; in the old ones only the parent's record, its
// freed list and the shared security record change.
TEST(Hive, NewKeysLeaveTheRestOfTheHiveAsItWas) {
  TempDir dir;
  const auto file = Write(dir / "SOFTWARE", HiveBuilder().Bytes());
  Hive::Node vendor = 0;
  {
    std::unique_ptr<Hive> hive = OpenForWriting(file);
    ASSERT_NE(hive, nullptr);
    const Hive::Node root = hive->Root();
    ASSERT_TRUE(hive->Commit(file, [&](HiveEdit& add) {
      Hive::Node key = 0;
      return add.AddKey(root, u"Other", {Text(u"Kept", u"x")}, &key) &&
             add.AddKey(root, u"Tandrel", {}, &vendor) && add.AddKey(vendor, u"Old", {}, &key);
    }));
  }
  const std::string before = ReadAll(file);
  {
    std::unique_ptr<Hive> hive = OpenForWriting(file);
    ASSERT_NE(hive, nullptr);
    ASSERT_TRUE(hive->Child(hive->Root(), u"Tandrel", &vendor));
    ASSERT_TRUE(hive->Commit(file, [&](HiveEdit& add) {
      Hive::Node key = 0;
      return add.AddKey(vendor, u"LUM", {Text(u"Version", u"1.0")}, &key);
    }));
  }
  const std::string after = ReadAll(file);
  EXPECT_EQ(CheckHiveStructure(after), "");
  EXPECT_EQ(UnexpectedlyChangedCells(before, after), "");
}

TEST(Hive, WhatTheLibraryWouldWriteWronglyIsRefusedAndAFailureCommitsNothing) {
  TempDir dir;
  const std::string empty = HiveBuilder().Bytes();
  const auto file = Write(dir / "SOFTWARE", empty);
  std::unique_ptr<Hive> hive = OpenForWriting(file);
  ASSERT_NE(hive, nullptr);
  const Hive::Node root = hive->Root();
  const std::u16string lone(1, u'\xD800');
  const std::u16string badKeys[] = {u"", u"a\\b", std::u16string(256, u'k'), u"x" + lone,
                                    std::u16string(u"a\0b", 3)};
  const std::vector<std::vector<HiveValue>> badValues = {
      {Text(lone, u"x")},
      {Text(u"Name", u"a"), Text(u"NAME", u"b")},
      {{u"Big", 3, std::string(Hive::kMaxValueBytes + 1, 'x')}},
  };
  struct Case {
    std::u16string name;
    std::vector<HiveValue> values;
    Hive::Refusal refusal;
  };
  std::vector<Case> cases;
  for (const auto& name : badKeys) cases.push_back({name, {}, Hive::Refusal::kBadName});
  cases.push_back({u"k", badValues[0], Hive::Refusal::kBadName});
  cases.push_back({u"k", badValues[1], Hive::Refusal::kBadName});
  cases.push_back({u"k", badValues[2], Hive::Refusal::kValueTooLarge});
  for (const Case& c : cases) {
    Hive::Refusal refusal = Hive::Refusal::kNone;
    EXPECT_FALSE(hive->Commit(file, [&](HiveEdit& add) {
      Hive::Node key = 0;
      bool added = add.AddKey(root, c.name, c.values, &key);
      refusal = add.LastRefusal();
      return added;
    }));
    EXPECT_EQ(refusal, c.refusal);
    EXPECT_EQ(ReadAll(file), empty);
  }
  // The same name twice below one key, in two letter cases.
  EXPECT_FALSE(hive->Commit(file, [&](HiveEdit& add) {
    Hive::Node key = 0;
    return add.AddKey(root, u"Tandrel", {}, &key) && add.AddKey(root, u"TANDREL", {}, &key);
  }));
  EXPECT_EQ(hive->LastRefusal(), Hive::Refusal::kBadName);
  EXPECT_EQ(ReadAll(file), empty);
  // A refusal is no failure: the hive still commits, and the largest name
  // and value fit.
  Hive::Node key = 0;
  ASSERT_TRUE(hive->Commit(file, [&](HiveEdit& add) {
    return add.AddKey(root, std::u16string(255, u'k'),
                      {{u"Big", 3, std::string(Hive::kMaxValueBytes, 'x')}}, &key);
  }));
  const std::string committed = ReadAll(file);
  EXPECT_EQ(CheckHiveStructure(committed), "");
  // A key made in an earlier commit is there: another spelling of it is
  // refused.
  hive = OpenForWriting(file);
  ASSERT_NE(hive, nullptr);
  EXPECT_FALSE(hive->Commit(file, [&](HiveEdit& add) {
    return add.AddKey(hive->Root(), std::u16string(255, u'K'), {}, &key);
  }));
  EXPECT_EQ(ReadAll(file), committed);

  // A hive older than version 1.5 lists subkeys in lf leaves, whose hint
  // holds four characters as bytes: names of characters up to U+00FF only,
  // which Windows stores one byte each.
  std::string old = HiveBuilder().Bytes();
  old[24] = 3;
  const uint32_t sum = HiveHeaderChecksum(old);
  std::memcpy(old.data() + 508, &sum, 4);
  const auto oldFile = Write(dir / "OLD", old);
  std::unique_ptr<Hive> oldHive = OpenForWriting(oldFile);
  ASSERT_NE(oldHive, nullptr);
  EXPECT_FALSE(oldHive->Commit(
      oldFile, [&](HiveEdit& add) { return add.AddKey(oldHive->Root(), u"\u20ACuro", {}, &key); }));
  EXPECT_EQ(oldHive->LastRefusal(), Hive::Refusal::kOldHiveName);
  EXPECT_EQ(ReadAll(oldFile), old);
  ASSERT_TRUE(oldHive->Commit(oldFile, [&](HiveEdit& add) {
    return add.AddKey(oldHive->Root(), u"B\u00FCro", {}, &key) &&
           add.AddKey(oldHive->Root(), u"Alpha", {}, &key);
  }));
  const std::string oldCommitted = ReadAll(oldFile);
  EXPECT_EQ(CheckHiveStructure(oldCommitted), "");
  const HiveSubkeyList oldList = ReadHiveSubkeyList(oldCommitted, {});
  EXPECT_TRUE(oldList.hashesRight);
  EXPECT_EQ(oldList.names, (std::vector<std::u16string>{u"Alpha", u"B\u00FCro"}));

  // A change the library fails (here on a key that is none) may have left
  // half an entry behind: from then on nothing is committed.
  EXPECT_FALSE(hive->SetValues(12345, {Text(u"Lost", u"x")}));
  EXPECT_EQ(hive->LastRefusal(), Hive::Refusal::kLibraryFailed);
  EXPECT_FALSE(hive->SetValues(hive->Root(), {Text(u"Later", u"x")}));
  EXPECT_EQ(hive->LastRefusal(), Hive::Refusal::kBroken);
  EXPECT_FALSE(hive->Commit(file));
  EXPECT_EQ(ReadAll(file), committed);
}

}  // namespace
