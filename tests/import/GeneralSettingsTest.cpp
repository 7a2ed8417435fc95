#include <gtest/gtest.h>

#include "import/GeneralSettings.h"
#include "support/Scenario.h"

namespace {

constexpr const char* kProduct = "SOFTWARE\\Tandrel\\LUM";

class GeneralSettingsTest : public ::testing::Test {
 protected:
  // Runs the whole import over a main profile with `body` as its text.
  void Import(const std::string& body) {
    s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
    s.Write("C:\\OLD\\lum.ini", body);
    ASSERT_TRUE(s.RunWorkStep()) << s.Messages();
  }
  std::optional<RegValue> Value(const char* name, const std::string& key = kProduct) {
    return s.Value(key, name);
  }
  Scenario s;
};

RegValue Dword(uint32_t value) {
  return {kRegDword, DwordBytes(value)};
}
RegValue Text(const std::string& text) {
  return {kRegSz, text};
}

}  // namespace

TEST_F(GeneralSettingsTest, ValuesAreTypedByTheirText) {
  Import(
      "[Settings]\r\nZero=0\r\nLead=0042\r\nNeg=-1\r\nFrac=1.5\r\nHex=0x10\r\nUnit=12 ms\r\n"
      "Max=4294967295\r\nHigh=2147483648\r\nOver=4294967296\r\nLong=12345678901234567890\r\n");
  EXPECT_EQ(Value("Zero"), Dword(0));
  EXPECT_EQ(Value("Lead"), Dword(42));
  EXPECT_EQ(Value("Neg"), Text("-1"));
  EXPECT_EQ(Value("Frac"), Text("1.5"));
  EXPECT_EQ(Value("Hex"), Text("0x10"));
  EXPECT_EQ(Value("Unit"), Text("12 ms"));
  EXPECT_EQ(Value("Max"), Dword(0xFFFFFFFFu));
  EXPECT_EQ(Value("High"), Dword(0x80000000u));
  // Beyond 32 bits a number would be mangled; it stays text.
  EXPECT_EQ(Value("Over"), Text("4294967296"));
  EXPECT_EQ(Value("Long"), Text("12345678901234567890"));
}

TEST_F(GeneralSettingsTest, LaterSectionsAndWindowPositionsWin) {
  Import(
      "[LogOptions]\r\nLevel=1\r\nMain=x\r\n[Security]\r\nCheck=1\r\n[Settings]\r\nLevel=2\r\n"
      "[WindowPos]\r\nDesktop size=640,480\r\nMain=1,2,3,4\r\nOther=9\r\n");
  EXPECT_EQ(Value("Level"), Dword(2));
  EXPECT_EQ(Value("Check"), Dword(1));
  EXPECT_EQ(Value("Desktop size"), Text("640,480"));
  EXPECT_EQ(Value("Main"), Text("1,2,3,4"));
  EXPECT_EQ(Value("Other"), std::nullopt);
}

TEST_F(GeneralSettingsTest, EmptySettingsAreNotWritten) {
  Import("[Settings]\r\nEmpty=\r\nMain=from settings\r\n");
  EXPECT_EQ(Value("Empty"), std::nullopt);
  // [WindowPos] has no "Main": the entry is empty and writes nothing.
  EXPECT_EQ(Value("Main"), std::nullopt);
  EXPECT_EQ(Value("Desktop size"), std::nullopt);
}

TEST_F(GeneralSettingsTest, LongTextIsWrittenWhole) {
  std::string text(5000, 'x');
  Import("[Settings]\r\nPath=" + text + "\r\n");
  EXPECT_EQ(Value("Path"), Text(text.substr(0, 4095)));  // what a profile read returns
}

TEST_F(GeneralSettingsTest, CurrentJobsRecordEachJobsPosition) {
  s.Write("C:\\Q\\cf1.ini", "[Settings]\r\nControlFileName=J1\r\n");
  s.Write("C:\\Q\\cf2.ini", "[Settings]\r\nControlFileName=J2\r\n");
  s.Write("C:\\Q\\cf3.ini", "[Settings]\r\nControlFileName=J3\r\n");
  s.Write("C:\\Q\\dup.ini", "[Settings]\r\nControlFileName=J1\r\n");
  s.Write("C:\\Q\\none.ini", "[Settings]\r\nSeqno=5\r\n");
  s.CreateKey("SOFTWARE\\Tandrel\\LUM\\CurrentJobs");
  Import(
      "[CurrentJobs]\r\nC:\\Q\\cf1.ini=1\r\nC:\\Q\\cf2.ini=1\r\nC:\\Q\\cf3.ini=1\r\n"
      "C:\\Q\\missing.ini=1\r\nC:\\Q\\dup.ini=1\r\nC:\\Q\\none.ini=1\r\n");
  std::string key = "SOFTWARE\\Tandrel\\LUM\\CurrentJobs";
  EXPECT_EQ(Value("J1", key), Dword(4));  // the later of two entries wins
  EXPECT_EQ(Value("J2", key), Dword(1));
  EXPECT_EQ(Value("J3", key), Dword(2));
  // Jobs without a name land in the default value; the last one stays.
  EXPECT_EQ(Value(nullptr, key), Dword(5));
}

TEST_F(GeneralSettingsTest, MissingCurrentJobsStillCreatesTheKey) {
  Import("[Settings]\r\nPort=515\r\n");
  EXPECT_TRUE(s.KeyExists("SOFTWARE\\Tandrel\\LUM\\CurrentJobs"));
}
