#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "app/CheckLUMDlg.h"
#include "import/GeneralSettings.h"
#include "platform/EnvWrapper.h"
#include "support/Scenario.h"

namespace {

constexpr const char* kProduct = "SOFTWARE\\Tandrel\\LUM";

// Records the type and bytes of every SetValue call on its way to the image,
// so that a test sees what the import passed, not only what got stored.
class SetValueRecorder : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  // Value name -> the last type and bytes passed for it.
  std::map<std::string, RegValue> passed;

  uint32_t SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                    uint32_t size) override {
    passed[name ? name : ""] = {
        type, data ? std::string(reinterpret_cast<const char*>(data), size) : std::string()};
    return EnvWrapper::SetValue(key, name, type, data, size);
  }
};

class GeneralSettingsTest : public ::testing::Test {
 protected:
  // Runs the whole import over a main profile with `body` as its text.
  void Import(const std::string& body) {
    s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
    s.Write("C:\\OLD\\lum.ini", body);
    SetValueRecorder recorder(s.env());
    CCheckLUMDlg dlg(recorder);
    ASSERT_TRUE(dlg.RunWorkStep()) << s.Messages();
    passed_ = recorder.passed;
  }
  // What the import passed to SetValue for `name`: type and byte count.
  std::optional<RegValue> Passed(const std::string& name) {
    auto it = passed_.find(name);
    if (it == passed_.end()) return std::nullopt;
    return it->second;
  }
  // What the registry holds afterwards.
  std::optional<RegValue> Stored(const char* name, const std::string& key = kProduct) {
    return s.Value(key, name);
  }
  Scenario s;
  std::map<std::string, RegValue> passed_;
};

RegValue Dword(uint32_t value) {
  return {kRegDword, DwordBytes(value)};
}
// Text as the import passes it: without its NUL.
RegValue Text(const std::string& text) {
  return {kRegSz, text};
}
// Text as the registry then stores it: the NUL that follows a std::string's
// characters in memory is stored too, as Windows does.
RegValue StoredText(const std::string& text) {
  return {kRegSz, text + '\0'};
}

}  // namespace

TEST_F(GeneralSettingsTest, ValuesAreTypedByTheirText) {
  Import(
      "[Settings]\r\nZero=0\r\nLead=0042\r\nNeg=-1\r\nFrac=1.5\r\nHex=0x10\r\nUnit=12 ms\r\n"
      "Max=4294967295\r\nHigh=2147483648\r\nOver=4294967296\r\nLong=12345678901234567890\r\n");
  EXPECT_EQ(Passed("Zero"), Dword(0));
  EXPECT_EQ(Passed("Lead"), Dword(42));
  EXPECT_EQ(Passed("Neg"), Text("-1"));
  EXPECT_EQ(Passed("Frac"), Text("1.5"));
  EXPECT_EQ(Passed("Hex"), Text("0x10"));
  EXPECT_EQ(Passed("Unit"), Text("12 ms"));
  EXPECT_EQ(Passed("Max"), Dword(0xFFFFFFFFu));
  EXPECT_EQ(Passed("High"), Dword(0x80000000u));
  // Beyond 32 bits a number would be mangled; it stays text.
  EXPECT_EQ(Passed("Over"), Text("4294967296"));
  EXPECT_EQ(Passed("Long"), Text("12345678901234567890"));

  EXPECT_EQ(Stored("Zero"), Dword(0));
  EXPECT_EQ(Stored("Max"), Dword(0xFFFFFFFFu));
  EXPECT_EQ(Stored("Neg"), StoredText("-1"));
  EXPECT_EQ(Stored("Over"), StoredText("4294967296"));
}

TEST_F(GeneralSettingsTest, LaterSectionsAndWindowPositionsWin) {
  Import(
      "[LogOptions]\r\nLevel=1\r\nMain=x\r\n[Security]\r\nCheck=1\r\n[Settings]\r\nLevel=2\r\n"
      "[WindowPos]\r\nDesktop size=640,480\r\nMain=1,2,3,4\r\nOther=9\r\n");
  EXPECT_EQ(Passed("Level"), Dword(2));
  EXPECT_EQ(Passed("Check"), Dword(1));
  EXPECT_EQ(Passed("Desktop size"), Text("640,480"));
  EXPECT_EQ(Passed("Main"), Text("1,2,3,4"));
  EXPECT_EQ(Passed("Other"), std::nullopt);
  EXPECT_EQ(Stored("Level"), Dword(2));
  EXPECT_EQ(Stored("Main"), StoredText("1,2,3,4"));
  EXPECT_EQ(Stored("Other"), std::nullopt);
}

TEST_F(GeneralSettingsTest, EmptySettingsAreNotWritten) {
  Import("[Settings]\r\nEmpty=\r\nMain=from settings\r\n");
  EXPECT_EQ(Passed("Empty"), std::nullopt);
  EXPECT_EQ(Stored("Empty"), std::nullopt);
  // [WindowPos] has no "Main": the entry is empty and writes nothing.
  EXPECT_EQ(Passed("Main"), std::nullopt);
  EXPECT_EQ(Stored("Main"), std::nullopt);
  EXPECT_EQ(Passed("Desktop size"), std::nullopt);
  EXPECT_EQ(Stored("Desktop size"), std::nullopt);
}

TEST_F(GeneralSettingsTest, LongTextIsWrittenWhole) {
  std::string text(5000, 'x');
  Import("[Settings]\r\nPath=" + text + "\r\n");
  // What a profile read returns.
  EXPECT_EQ(Passed("Path"), Text(text.substr(0, 4095)));
  EXPECT_EQ(Stored("Path"), StoredText(text.substr(0, 4095)));
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
  EXPECT_EQ(Stored("J1", key), Dword(4));  // the later of two entries wins
  EXPECT_EQ(Stored("J2", key), Dword(1));
  EXPECT_EQ(Stored("J3", key), Dword(2));
  // Jobs without a name land in the default value; the last one stays.
  EXPECT_EQ(Stored(nullptr, key), Dword(5));
}

TEST_F(GeneralSettingsTest, MissingCurrentJobsStillCreatesTheKey) {
  Import("[Settings]\r\nPort=515\r\n");
  EXPECT_TRUE(s.KeyExists("SOFTWARE\\Tandrel\\LUM\\CurrentJobs"));
}
