// The five table profiles: which sections become which keys, which values
// stay text, and what happens to profiles that are missing or empty.
#include <gtest/gtest.h>

#include "support/Scenario.h"

namespace {

constexpr const char* kProduct = "SOFTWARE\\Tandrel\\LUM";

class TableProfilesTest : public ::testing::Test {
 protected:
  TableProfilesTest() {
    s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
    s.Write("C:\\OLD\\lum.ini", "[Settings]\r\nPort=515\r\n");
  }
  void Run() { ASSERT_TRUE(s.RunWorkStep()) << s.Messages(); }
  std::string Script() { return s.Read("C:\\Setup\\Backup\\restore.bat").value_or("<missing>"); }
  std::optional<RegValue> Value(const std::string& key, const char* name) {
    return s.Value(std::string(kProduct) + "\\" + key, name);
  }
  std::optional<std::string> Text(const std::string& key, const char* name) {
    return s.Text(std::string(kProduct) + "\\" + key, name);
  }
  bool Key(const std::string& key) { return s.KeyExists(std::string(kProduct) + "\\" + key); }
  Scenario s;
};

RegValue Dword(uint32_t value) {
  return {kRegDword, DwordBytes(value)};
}

TEST_F(TableProfilesTest, NoneOfTheFiveLeavesNoTrace) {
  Run();
  for (const char* key : {"Access", "Translation", "Styles", "Protocols", "EBCDIC"}) {
    EXPECT_FALSE(Key(key)) << key;
  }
  EXPECT_EQ(Script(),
            "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\ncopy/y lum.ini C:\\OLD\\lum.ini\r\n");
}

TEST_F(TableProfilesTest, OnlyProtocolIni) {
  s.Write("C:\\OLD\\PROTOCOL.INI",
          "[Protocols]\r\nP1=LPD\r\nP2=\r\n[LPD]\r\nPort=515\r\nName=lpd\r\n");
  Run();
  EXPECT_EQ(Value("Protocols\\LPD", "Port"), Dword(515));  // all digits: a number
  EXPECT_EQ(Text("Protocols\\LPD", "Name"), "lpd");
  EXPECT_FALSE(Value("Protocols", "P1").has_value());  // the index is not written
  // An entry without a value names no protocol: no key Protocols\ itself.
  EXPECT_FALSE(Value("Protocols", "Port").has_value());
  EXPECT_FALSE(Key("Access"));
  EXPECT_FALSE(s.Exists("C:\\OLD\\PROTOCOL.INI"));
  // Moved under the name spelled as the table spells it.
  EXPECT_EQ(s.Read("C:\\Setup\\Backup\\protocol.ini").has_value(), true);
  EXPECT_NE(Script().find("copy/y protocol.ini C:\\OLD\\PROTOCOL.INI\r\n"), std::string::npos);
}

TEST_F(TableProfilesTest, EmptyAccessIniLeavesItsFourKeysEmpty) {
  s.Write("C:\\OLD\\access.ini", "");
  Run();
  for (const char* key :
       {"Access", "Access\\Hostnames", "Access\\IP Rules", "Access\\Host Rules"}) {
    EXPECT_TRUE(Key(key)) << key;
  }
  EXPECT_TRUE(s.Exists("C:\\Setup\\Backup\\access.ini"));
}

TEST_F(TableProfilesTest, TranslationTablesAreTextAndNamedByValue) {
  s.Write("C:\\OLD\\translat.ini",
          "[Tables]\r\nt1=Latin\r\nt2=Latin\r\nt3=\r\n[Latin]\r\n41=61\r\nname=x\r\n");
  Run();
  EXPECT_EQ(Text("Translation\\Latin", "41"), "61");  // digits, still text
  EXPECT_EQ(Text("Translation\\Latin", "name"), "x");
  EXPECT_FALSE(Value("Translation", "41").has_value());  // no import into Translation\ itself
}

TEST_F(TableProfilesTest, StylesAreStoredAsQueuesAre) {
  s.Write("C:\\OLD\\styles.ini",
          "[Styles]\r\nDraft=Fast\r\nEmpty=\r\nBare=No section\r\n"
          "[Draft]\r\nCharsPerInch=15\r\nModeBytes=1B 78 00\r\nCopies=2\r\n");
  Run();
  EXPECT_EQ(Text("Styles", "Draft"), "Fast");
  EXPECT_FALSE(Value("Styles", "Empty").has_value());
  EXPECT_EQ(Text("Styles\\Draft", "CharsPerInch"), "15.0");
  EXPECT_EQ(Value("Styles\\Draft", "ModeBytes"),
            (RegValue{kRegBinary, std::string("\x1B\x78\0", 3)}));
  EXPECT_EQ(Value("Styles\\Draft", "Copies"), Dword(2));
  EXPECT_TRUE(Key("Styles\\Bare"));  // a style without its own section
  EXPECT_TRUE(Key("Styles\\Empty"));
}

TEST_F(TableProfilesTest, EbcdicTablesAreTextAndNamedByKey) {
  s.Write(
      "C:\\OLD\\ebcdic.ini",
      "[LangID]\r\nDE=273\r\n[LangNames]\r\nDE=German\r\nXX=\r\n[DE]\r\n4A=C4\r\n[XX]\r\n5=5\r\n");
  Run();
  EXPECT_EQ(Text("EBCDIC\\LangID", "DE"), "273");
  EXPECT_EQ(Text("EBCDIC\\LangNames", "DE"), "German");
  EXPECT_FALSE(Value("EBCDIC\\LangNames", "XX").has_value());
  EXPECT_EQ(Text("EBCDIC\\DE", "4A"), "C4");
  EXPECT_EQ(Text("EBCDIC\\XX", "5"), "5");  // a key with an empty value still names its table
}

TEST_F(TableProfilesTest, BareMainProfileLooksForTablesWhereItWasFound) {
  s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=lum2.ini\r\n");
  s.Write("C:\\WINDOWS\\lum2.ini", "[Settings]\r\nPort=515\r\n");
  s.Write("C:\\WINDOWS\\access.ini", "[Settings]\r\nDefault=1\r\n");
  Run();
  EXPECT_EQ(Value("Access", "Default"), Dword(1));
}

}  // namespace
