// CIni over the portable profile service on a temporary folder.
#include <gtest/gtest.h>

#include <string>

#include "platform/portable/files/HostFile.h"
#include "profile/Ini.h"
#include "profile/ProfileTestEnv.h"

namespace {

class IniTest : public ::testing::Test {
 protected:
  IniTest() : ini_(env_, "lum.ini") {}
  void Profile(const std::string& content) { env_.dir.Write("lum.ini", content); }
  std::string Content() { return env_.dir.Read("lum.ini").value_or("(missing)"); }

  ProfileTestEnv env_;
  CIni ini_;
};

TEST_F(IniTest, MissingFileGivesDefaultsAndLeavesContainersAlone) {
  StringList names = {"x"};
  SectionMap map = {{"k", "v"}};
  EXPECT_EQ(ini_.ReadString("S", "k", "def"), "def");
  EXPECT_EQ(ini_.ReadString("S", "k"), "");
  EXPECT_EQ(ini_.ReadInt("S", "k", -5), static_cast<uint32_t>(-5));
  EXPECT_EQ(ini_.ReadBool("S", "k", 3), 1);
  EXPECT_EQ(ini_.ReadKeyNames("S", names), 0);
  EXPECT_EQ(ini_.ReadSection("S", map), 0);
  EXPECT_EQ(names, StringList{"x"});
  EXPECT_EQ(map, (SectionMap{{"k", "v"}}));
  EXPECT_EQ(Content(), "(missing)");
}

TEST_F(IniTest, ReadsValuesWithTheCallersDefault) {
  Profile("[S]\r\nempty=\r\nq=\" v \"\r\nn=0x10\r\nb=0\r\nd=2.5e3x\r\nw=word\r\n");
  EXPECT_EQ(ini_.ReadString("S", "empty", "def"), "def");
  EXPECT_EQ(ini_.ReadString("S", "q", "def"), " v ");
  EXPECT_EQ(ini_.ReadString("s", "N"), "0x10");
  EXPECT_EQ(ini_.ReadInt("S", "n", 0), 16u);
  EXPECT_EQ(ini_.ReadInt("S", "empty", 9), 9u);
  EXPECT_EQ(ini_.ReadBool("S", "b", 1), 0);
  EXPECT_EQ(ini_.ReadBool("S", "n", 0), 1);
  EXPECT_DOUBLE_EQ(ini_.ReadDouble("S", "d", 1.0), 2500.0);
  EXPECT_DOUBLE_EQ(ini_.ReadDouble("S", "w", 1.0), 0.0);
  EXPECT_DOUBLE_EQ(ini_.ReadDouble("S", "missing", 1234567), 1234570.0);
  EXPECT_DOUBLE_EQ(ini_.ReadDouble("S", "missing", -0.5), -0.5);
}

TEST_F(IniTest, LongValuesAreCutTo4095Characters) {
  std::string value(5000, 'x');
  value[4094] = 'y';
  Profile("[S]\r\nlong=" + value + "\r\n");
  EXPECT_EQ(ini_.ReadString("S", "long"), value.substr(0, 4095));
}

TEST_F(IniTest, ReadKeyNamesAppendsToTheList) {
  Profile("[S]\r\na=1\r\n;c=2\r\nnoeq\r\nB=2\r\n[E]\r\n");
  StringList names = {"x", "y", "z"};
  EXPECT_EQ(ini_.ReadKeyNames("S", names), 5);
  EXPECT_EQ(names, (StringList{"x", "y", "z", "a", "B"}));
  EXPECT_EQ(ini_.ReadKeyNames("missing", names), 0);
  EXPECT_EQ(ini_.ReadKeyNames("E", names), 0);
  EXPECT_EQ(names.size(), 5u);
}

TEST_F(IniTest, ReadSectionMergesAndReplaces) {
  Profile("[A]\r\nPort=1\r\nempty=\r\nname=x\r\n[B]\r\nPort=2\r\nport=3\r\n");
  SectionMap map;
  EXPECT_EQ(ini_.ReadSection("A", map), 3);
  EXPECT_EQ(map, (SectionMap{{"Port", "1"}, {"empty", ""}, {"name", "x"}}));
  // Names are case-sensitive in the map; the service reads "port" as the
  // section's first "Port".
  EXPECT_EQ(ini_.ReadSection("B", map), 4);
  EXPECT_EQ(map, (SectionMap{{"Port", "2"}, {"empty", ""}, {"name", "x"}, {"port", "2"}}));
  EXPECT_EQ(ini_.ReadSection("missing", map), 0);
  EXPECT_EQ(map.size(), 4u);
}

// Lists longer than the 4096-character buffer are read whole, and keys after
// a line with an empty name are not lost.
TEST_F(IniTest, LongKeyListsAndEmptyNamesLoseNothing) {
  std::string profile = "[S]\r\n";
  for (int i = 0; i < 1000; ++i)
    profile += "key" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  profile += "=empty\r\nlast=end\r\n";
  Profile(profile);
  StringList names;
  EXPECT_EQ(ini_.ReadKeyNames("S", names), 1001);
  EXPECT_EQ(names[999], "key999");
  EXPECT_EQ(names[1000], "last");
  SectionMap map;
  EXPECT_EQ(ini_.ReadSection("S", map), 1001);
  EXPECT_EQ(map["key512"], "512");
  EXPECT_EQ(map["last"], "end");
  EXPECT_EQ(map.count(""), 0u);
}

// A key-name list that starts with an empty name reads as no list at all;
// the section is read whole instead, so a first line "=x" hides nothing.
// Each name keeps what a read by that name gives.
TEST_F(IniTest, ReadSectionSeesEveryKeyAsAReadByNameWould) {
  Profile("[S]\r\n=x\r\nA=1\r\n;c=2\r\nnoeq\r\nq=\"quoted\"\r\nB=2\r\nb=3\r\nlong=" +
          std::string(5000, 'L') + "\r\n");
  SectionMap map;
  EXPECT_EQ(ini_.ReadSection("S", map), 5);
  EXPECT_EQ(map["A"], "1");
  EXPECT_EQ(map["q"], "quoted");
  EXPECT_EQ(map["B"], "2");
  EXPECT_EQ(map["b"], "2");  // the first "B" in any letter case
  EXPECT_EQ(map["long"], std::string(4095, 'L'));
  EXPECT_EQ(map.count(""), 0u);
  EXPECT_EQ(map.count(";c"), 0u);
  EXPECT_EQ(map.count("noeq"), 0u);
}

TEST_F(IniTest, WritesAndTheDirtyFlag) {
  EXPECT_EQ(ini_.Dirty(), 0);
  ini_.WriteString("S", "s", "text");
  EXPECT_EQ(ini_.Dirty(), 1);
  ini_.WriteInt("S", "i", -2147483647 - 1);
  ini_.WriteBool("S", "b", 7);
  ini_.WriteDouble("S", "d", 1234567.0);
  ini_.WriteDouble("S", "e", 1e-300);
  EXPECT_EQ(Content(), "[S]\r\ns=text\r\ni=-2147483648\r\nb=7\r\nd=1.23457e+06\r\ne=1e-300\r\n");
  ini_.Flush();
  EXPECT_EQ(ini_.Dirty(), 0);
  ini_.DeleteKey("S", "s");
  EXPECT_EQ(ini_.Dirty(), 1);
  ini_.DeleteKey("S", nullptr);
  EXPECT_EQ(Content(), "");
  EXPECT_TRUE(env_.messages.empty());

  CIni other(env_);
  other.SetPath("other.ini");
  env_.profileCalls = 0;
  other.WriteSection("T", SectionMap{});
  EXPECT_EQ(env_.profileCalls, 0);
  EXPECT_EQ(other.Dirty(), 1);
  EXPECT_FALSE(env_.dir.Exists("other.ini"));
  env_.profileCalls = 0;
  other.WriteSection("T", SectionMap{{"b", "2"}, {"a", "1"}});
  EXPECT_EQ(env_.profileCalls, 2);
  EXPECT_EQ(*env_.dir.Read("other.ini"), "[T]\r\na=1\r\nb=2\r\n");
}

TEST_F(IniTest, FailedWriteShowsMessage290AndStaysDirty) {
  CIni ini(env_, "nodir/x.ini");
  ini.WriteString("S", "k", "v");
  ASSERT_EQ(env_.messages.size(), 1u);
  EXPECT_EQ(env_.messages[0].text, "Error writing to profile nodir/x.ini:\nPath not found.");
  EXPECT_EQ(env_.messages[0].type, kMbOk | kMbIconExclamation);
  EXPECT_EQ(ini.Dirty(), 1);
  ini.Flush();
  ini.DeleteKey("S", "k");
  EXPECT_EQ(env_.messages.size(), 1u);  // deleting and flushing report nothing

  Profile("[S]\r\nk=1\r\n");
  MakeReadOnly(env_.Host("lum.ini"));
  ini_.WriteInt("S", "k", 2);
  ASSERT_EQ(env_.messages.size(), 2u);
  EXPECT_EQ(env_.messages[1].text, "Error writing to profile lum.ini:\nAccess denied.");
  EXPECT_EQ(Content(), "[S]\r\nk=1\r\n");
}

TEST_F(IniTest, RenameSectionMovesEveryKey) {
  Profile("[Old]\r\na=1\r\nb=\r\nq=\"x\"\r\n[New]\r\nb=old\r\nc=3\r\n");
  ini_.RenameSection("old", "New");
  EXPECT_EQ(Content(), "[New]\r\nb=\r\nc=3\r\na=1\r\nq=x\r\n");
  EXPECT_EQ(ini_.Dirty(), 1);
  ini_.RenameSection("missing", "Other");
  EXPECT_EQ(Content(), "[New]\r\nb=\r\nc=3\r\na=1\r\nq=x\r\n");
  // A name the service takes for the same section changes nothing.
  ini_.RenameSection("New", " NEW ");
  EXPECT_EQ(Content(), "[New]\r\nb=\r\nc=3\r\na=1\r\nq=x\r\n");
}

TEST_F(IniTest, RenameSectionKeepsWhatCouldNotBeCopied) {
  Profile("[Old]\r\na=1\r\n");
  MakeReadOnly(env_.Host("lum.ini"));
  ini_.RenameSection("Old", "New");
  EXPECT_EQ(env_.messages.size(), 1u);
  EXPECT_EQ(Content(), "[Old]\r\na=1\r\n");
}

TEST_F(IniTest, RenameKey) {
  Profile("[S]\r\nold=v\r\nother=1\r\n");
  ini_.RenameKey("S", "old", "new");
  EXPECT_EQ(Content(), "[S]\r\nother=1\r\nnew=v\r\n");
  ini_.RenameKey("S", "missing", "empty");
  EXPECT_EQ(Content(), "[S]\r\nother=1\r\nnew=v\r\nempty=\r\n");
  ini_.RenameKey("S", "new", "NEW");
  EXPECT_EQ(Content(), "[S]\r\nother=1\r\nnew=v\r\nempty=\r\n");
  EXPECT_EQ(ini_.Dirty(), 1);
}

// One parse of the file serves a whole section.
TEST_F(IniTest, ReadSectionOfAnUnchangedFileParsesOnce) {
  std::string profile = "[S]\r\n";
  for (int i = 0; i < 50; ++i) profile += "k" + std::to_string(i) + "=v\r\n";
  Profile(profile);
  SectionMap map;
  uint64_t before = env_.service.parses();
  EXPECT_EQ(ini_.ReadSection("S", map), 50);
  EXPECT_EQ(env_.service.parses() - before, 1u);
  ini_.WriteString("S", "k0", "w");
  map.clear();
  before = env_.service.parses();
  EXPECT_EQ(ini_.ReadSection("S", map), 50);
  EXPECT_EQ(env_.service.parses() - before, 1u);
  EXPECT_EQ(map["k0"], "w");
}

}  // namespace
