// The queue phase over whole old installations: the queue list, the queue's
// settings, byte strings and font, and what happens to queues that cannot be
// imported.
#include <gtest/gtest.h>

#include "import/QueueValueWriter.h"
#include "support/Scenario.h"

namespace {

constexpr const char* kQueues = "SOFTWARE\\Tandrel\\LUM\\Queues";

class QueueImportTest : public ::testing::Test {
 protected:
  // The pointer and main profiles; `queues` is the main profile's text from
  // [Queues] on.
  void WriteMain(const std::string& queues) {
    s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
    s.Write("C:\\OLD\\lum.ini", "[Settings]\r\nPort=515\r\n" + queues);
  }
  void Run() { ASSERT_TRUE(s.RunWorkStep()) << s.Messages(); }
  std::string Script() { return s.Read("C:\\Setup\\Backup\\restore.bat").value_or("<missing>"); }
  std::optional<RegValue> Value(const std::string& queue, const char* name) {
    return s.Value(std::string(kQueues) + "\\" + queue, name);
  }
  std::optional<std::string> Text(const std::string& queue, const char* name) {
    return s.Text(std::string(kQueues) + "\\" + queue, name);
  }
  Scenario s;
};

RegValue Dword(uint32_t value) {
  return {kRegDword, DwordBytes(value)};
}
RegValue Binary(const std::string& bytes) {
  return {kRegBinary, bytes};
}

TEST_F(QueueImportTest, QueueListNamesEachQueueOnce) {
  WriteMain(
      "[Queues]\r\nQ1=Alpha\r\nQ2=Alpha\r\n"
      "[Alpha]\r\nqueuedir=C:\\OLD\\A\\\r\ncfdir=C:\\CF\r\n");
  s.Write("C:\\OLD\\A\\queue.ini", "[Settings]\r\nType=1\r\ncfdir=C:\\OWN\r\n");
  Run();
  EXPECT_EQ(Value("Alpha", "Type"), Dword(1));
  EXPECT_EQ(Text("Alpha", "cfdir"), "C:\\CF");  // the main profile's cfdir wins
  // A trailing backslash still names the directory.
  EXPECT_EQ(Script(),
            "copy/y winlum.ini C:\\WINDOWS\\lum.ini\r\n"
            "copy/y lum.ini C:\\OLD\\lum.ini\r\n"
            "copy/y Alpha C:\\OLD\\A\\queue.ini\r\n");
  EXPECT_EQ(s.Messages(), "");
}

TEST_F(QueueImportTest, QueuesThatCannotBeImportedAreReportedAndLeftAlone) {
  WriteMain(
      "[Queues]\r\n1=NoDir\r\n2=File\r\n3=NoProfile\r\n4=Shared1\r\n5=Shared2\r\n6=Wild\r\n"
      "[File]\r\nqueuedir=C:\\OLD\\file.txt\r\n"
      "[NoProfile]\r\nqueuedir=C:\\OLD\\Empty\r\n"
      "[Shared1]\r\nqueuedir=C:\\OLD\\S\r\n[Shared2]\r\nqueuedir=C:\\OLD\\S\r\n"
      "[Wild]\r\nqueuedir=C:\\OLD\\*\r\n");
  s.Write("C:\\OLD\\file.txt", "not a directory");
  s.MakeDirectory("C:\\OLD\\Empty");
  s.Write("C:\\OLD\\S\\queue.ini", "[Settings]\r\nType=2\r\n");
  Run();
  std::string messages = s.Messages();
  EXPECT_NE(messages.find("Queue NoDir: directory '' does not exist!"), std::string::npos);
  EXPECT_NE(messages.find("Queue File: directory 'C:\\OLD\\file.txt' does not exist!"),
            std::string::npos);
  EXPECT_NE(messages.find("Queue Wild: directory 'C:\\OLD\\*' does not exist!"), std::string::npos);
  EXPECT_NE(
      messages.find("Queue NoProfile: config file 'C:\\OLD\\Empty\\queue.ini' does not exist!"),
      std::string::npos);
  // The first of two queues sharing a directory takes its profile along.
  EXPECT_EQ(Value("Shared1", "Type"), Dword(2));
  EXPECT_NE(messages.find("Queue Shared2: config file 'C:\\OLD\\S\\queue.ini' does not exist!"),
            std::string::npos);
  for (const char* queue : {"NoDir", "File", "NoProfile", "Shared2", "Wild"}) {
    EXPECT_FALSE(s.KeyExists(std::string(kQueues) + "\\" + queue)) << queue;
  }
}

TEST_F(QueueImportTest, MainProfileWithoutQueuesIsStillMoved) {
  WriteMain("");
  Run();
  EXPECT_FALSE(s.Exists("C:\\OLD\\lum.ini"));
  EXPECT_FALSE(s.KeyExists(kQueues));
}

TEST_F(QueueImportTest, SettingsBytesAndMarginsAreStoredByTheirKind) {
  WriteMain(
      "[Queues]\r\nq=Q\r\nr=R\r\n[Q]\r\nqueuedir=C:\\OLD\\Q\r\n[R]\r\nqueuedir=C:\\OLD\\R\r\n");
  s.Write("C:\\OLD\\Q\\queue.ini",
          "[Settings]\r\nInsertBytes=1\r\nModeSize=9\r\nName=Line 1\r\n"
          "[Bytes]\r\nInsertBytes=1B45\r\nAppendBytes=1b 40 0C\r\nModeBytes=1B4\r\n"
          "PageSeperator=7\r\n"
          "[Margins]\r\nTop=5\r\nBottom=\r\nLeft=2.5\r\nModeSize=3\r\n");
  // Names in other letter case are no measures and no byte strings.
  s.Write("C:\\OLD\\R\\queue.ini", "[Settings]\r\ninsertbytes=2\r\n[Margins]\r\ntop=5\r\n");
  Run();
  EXPECT_EQ(Value("Q", "bInsertBytes"), Dword(1));
  EXPECT_EQ(Value("Q", "InsertBytes"), Binary("\x1B\x45"));
  EXPECT_EQ(Value("Q", "AppendBytes"), Binary("\x1B\x40\x0C"));  // blanks between pairs
  EXPECT_EQ(Value("Q", "ModeBytes"), Binary("\x1B"));            // the odd digit is ignored
  EXPECT_EQ(Value("Q", "PageSeperator"), Dword(7));              // one digit is no byte string
  EXPECT_EQ(Text("Q", "Name"), "Line 1");
  EXPECT_EQ(Text("Q", "Top"), "5.0");
  EXPECT_EQ(Text("Q", "Bottom"), ".0");
  EXPECT_EQ(Text("Q", "Left"), "2.5");
  EXPECT_EQ(Value("Q", "ModeSize"), std::nullopt);
  EXPECT_EQ(Value("R", "insertbytes"), Dword(2));
  EXPECT_EQ(Value("R", "bInsertBytes"), std::nullopt);
  EXPECT_EQ(Value("R", "top"), Dword(5));
}

TEST(ByteString, PairsOfHexDigitsOnly) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ParseByteString("0aFf", &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x0A, 0xFF}));
  EXPECT_TRUE(ParseByteString(" 1B\t40 ", &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x1B, 0x40}));
  for (const char* text : {"", "7", "ZZ", "1 B", "0x1B", "1B-40", "1B,40"}) {
    EXPECT_FALSE(ParseByteString(text, &bytes)) << text;
  }
}

// A byte string that is no pairs of hex digits is kept as text, so that
// nothing of it is lost.
TEST_F(QueueImportTest, ByteStringThatIsNoHexIsKeptAsText) {
  WriteMain("[Queues]\r\nq=Q\r\n[Q]\r\nqueuedir=C:\\OLD\\Q\r\n");
  s.Write("C:\\OLD\\Q\\queue.ini", "[Bytes]\r\nModeBytes=ESC x\r\nAppendBytes=00\r\n");
  Run();
  EXPECT_EQ(Text("Q", "ModeBytes"), "ESC x");
  EXPECT_EQ(Value("Q", "AppendBytes"), Binary(std::string(1, '\0')));
}

TEST_F(QueueImportTest, FontIsAFixedSixtyByteRecord) {
  WriteMain(
      "[Queues]\r\n1=Plain\r\n2=Full\r\n3=Long\r\n4=None\r\n"
      "[Plain]\r\nqueuedir=C:\\OLD\\P\r\n[Full]\r\nqueuedir=C:\\OLD\\F\r\n"
      "[Long]\r\nqueuedir=C:\\OLD\\L\r\n[None]\r\nqueuedir=C:\\OLD\\N\r\n");
  s.Write("C:\\OLD\\P\\queue.ini", "[Font]\r\nFaceName=Courier New\r\n");
  s.Write("C:\\OLD\\F\\queue.ini",
          "[Font]\r\nFaceName=Arial\r\nHeight=-13\r\nWeight=700\r\nItalic=257\r\nUnderline=1\r\n"
          "OutPrecision=3\r\nClipPrecision=2\r\nQuality=1\r\nPitchAndFamily=49\r\n");
  s.Write("C:\\OLD\\L\\queue.ini", "[Font]\r\nFaceName=" + std::string(40, 'F') + "\r\n");
  s.Write("C:\\OLD\\N\\queue.ini", "[Font]\r\nHeight=10\r\n");
  Run();

  std::string plain(60, '\0');
  plain.replace(16, 2, "\x90\x01");
  plain.replace(28, 11, "Courier New");
  EXPECT_EQ(Value("Plain", "Font"), Binary(plain));

  std::string full(60, '\0');
  full.replace(0, 4, "\xF3\xFF\xFF\xFF");
  full.replace(16, 2, "\xBC\x02");
  full.replace(20, 2, "\x01\x01");  // low 8 bits of 257
  full.replace(24, 4, "\x03\x02\x01\x31");
  full.replace(28, 5, "Arial");
  EXPECT_EQ(Value("Full", "Font"), Binary(full));

  // 40 characters keep 31 and a terminating zero.
  std::optional<RegValue> longFont = Value("Long", "Font");
  ASSERT_TRUE(longFont.has_value());
  EXPECT_EQ(longFont->data.size(), 60u);
  EXPECT_EQ(longFont->data.substr(28), std::string(31, 'F') + '\0');

  EXPECT_EQ(Value("None", "Font"), std::nullopt);
}

TEST_F(QueueImportTest, QueueWhoseNameIsNoFileNameKeepsItsProfile) {
  WriteMain("[Queues]\r\nq=A:B\r\n[A:B]\r\nqueuedir=C:\\OLD\\Q\r\n");
  s.Write("C:\\OLD\\Q\\queue.ini", "[Settings]\r\nType=1\r\n");
  Run();
  EXPECT_EQ(Value("A:B", "Type"), Dword(1));
  EXPECT_TRUE(s.Exists("C:\\OLD\\Q\\queue.ini"));
  EXPECT_NE(s.Messages().find("\"A:B\" is not a valid file name"), std::string::npos)
      << s.Messages();
}

}  // namespace
