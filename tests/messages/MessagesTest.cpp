#include <gtest/gtest.h>

#include "messages/MessageTestEnv.h"
#include "messages/Messages.h"

namespace {

class MessagesTest : public testing::Test {
 protected:
  MessagesTest() {
    env.systemTexts[2] = "File not found.\r\n";
    env.systemTexts[5] = "Access denied.\r\n";
  }
  MessageTestEnv env;
};

TEST_F(MessagesTest, SystemErrorTextKeepsOnlyTheFirstLine) {
  env.systemTexts[7] = "First line.\r\nSecond line.\r\n";
  env.systemTexts[8] = "\r\nStarts with a line end.";
  env.systemTexts[9] = "Bare line feed\nafter it";
  std::string text = "old content";
  EXPECT_EQ(GetSystemErrorText(env, text, 2), "File not found.");
  EXPECT_EQ(GetSystemErrorText(env, text, 7), "First line.");
  EXPECT_EQ(GetSystemErrorText(env, text, 8), "");
  EXPECT_EQ(GetSystemErrorText(env, text, 9), "Bare line feed");
}

TEST_F(MessagesTest, SystemErrorTextOfCodeZeroIsTheLastError) {
  env.lastError = 5;
  std::string text;
  EXPECT_EQ(GetSystemErrorText(env, text, 0), "Access denied.");
}

TEST_F(MessagesTest, UnknownCodesAreShownUnsigned) {
  std::string text = "replaced, not appended to";
  EXPECT_EQ(GetSystemErrorText(env, text, 12345), "Unknown Win32 error: 12345");
  EXPECT_EQ(GetSystemErrorText(env, text, 0xDEADBEEF), "Unknown Win32 error: 3735928559");
  EXPECT_EQ(GetSystemErrorText(env, text, 0xFFFFFFFF), "Unknown Win32 error: 4294967295");
}

TEST_F(MessagesTest, ProfileWriteTemplate) {
  std::string target;
  int appended = AppendTableMessage(env, target, kMsgErrorWritingProfile, "C:\\OLD\\lum.ini",
                                    "Access denied.");
  EXPECT_EQ(target, "Error writing to profile C:\\OLD\\lum.ini:\nAccess denied.");
  EXPECT_EQ(appended, static_cast<int>(target.size()));
}

TEST_F(MessagesTest, AppendsFollowEachOtherInCallOrder) {
  std::string target = "> ";
  AppendTableMessage(env, target, kMsgImportingFile);
  AppendTableMessage(env, target, kMsgQueueDirectoryMissing, "Alpha", "C:\\Q");
  EXPECT_EQ(target, "> Importing fileQueue Alpha: directory 'C:\\Q' does not exist!");
}

TEST_F(MessagesTest, MissingIdAppendsNothing) {
  std::string target = "kept";
  EXPECT_EQ(AppendTableMessage(env, target, 7), 0);
  EXPECT_EQ(target, "kept");
}

TEST_F(MessagesTest, ErrorMarkerTakesTheErrorReadOnEntry) {
  env.tableTexts[500] = "Copy failed (%m), then %s: %m";
  env.tableTexts[501] = "No marker: %s";
  env.lastError = 5;
  env.errorAfterTableLoad = 2;  // loading the template must not change the text
  std::string target;
  AppendTableMessage(env, target, 500, "gave up");
  EXPECT_EQ(target, "Copy failed (Access denied.), then gave up: Access denied.");

  env.systemMessageCalls = 0;
  target.clear();
  AppendTableMessage(env, target, 501, "x");
  EXPECT_EQ(target, "No marker: x");
  EXPECT_EQ(env.systemMessageCalls, 0);
}

TEST_F(MessagesTest, PercentInErrorTextIsPrintedAsItIs) {
  env.systemTexts[112] = "Disk 100% full %s %n.\r\n";
  env.lastError = 112;
  std::string target;
  int appended = AppendMessage(env, target, "%s: %m", "write");
  EXPECT_EQ(target, "write: Disk 100% full %s %n.");
  EXPECT_EQ(appended, static_cast<int>(target.size()));
}

TEST_F(MessagesTest, LongMessagesAreNotCut) {
  std::string path(5000, 'p');
  std::string target = "x";
  int appended = AppendTableMessage(env, target, kMsgErrorWritingProfile, path.c_str(), "E");
  EXPECT_EQ(appended, 5000 + 28);
  EXPECT_EQ(target, "xError writing to profile " + path + ":\nE");
}

TEST_F(MessagesTest, AppendMessageFormatsAndKeepsTheTarget) {
  std::string target = "a";
  EXPECT_EQ(AppendMessage(env, target, "%s-%lu-%d", "b", 4294967295ul, -1), 15);
  EXPECT_EQ(target, "ab-4294967295--1");
  EXPECT_EQ(AppendMessage(env, target, nullptr), 0);
  EXPECT_EQ(target, "ab-4294967295--1");
}

TEST(ReplaceAllTest, CountsAndReplaces) {
  std::string text = "a.b.c";
  EXPECT_EQ(ReplaceAll(text, "x", "y"), 0);
  EXPECT_EQ(text, "a.b.c");
  EXPECT_EQ(ReplaceAll(text, ".", "::"), 2);
  EXPECT_EQ(text, "a::b::c");
  EXPECT_EQ(ReplaceAll(text, "::", ""), 2);
  EXPECT_EQ(text, "abc");
}

TEST(ReplaceAllTest, ReplacementHoldingTheSearchTextEnds) {
  std::string text = "%m and %m";
  EXPECT_EQ(ReplaceAll(text, "%m", "[%m]"), 2);
  EXPECT_EQ(text, "[%m] and [%m]");
  text = "aaa";
  EXPECT_EQ(ReplaceAll(text, "a", "aa"), 3);
  EXPECT_EQ(text, "aaaaaa");
}

TEST(ReplaceCharTest, SingleCharacters) {
  std::string text = "C:/old/lum.ini";
  ReplaceChar(text, '/', '\\');
  EXPECT_EQ(text, "C:\\old\\lum.ini");
  ReplaceChar(text, '\\', '\\');
  EXPECT_EQ(text, "C:\\old\\lum.ini");
  text = "a,b;c d";
  ReplaceAnyChar(text, ",; ", ';');
  EXPECT_EQ(text, "a;b;c;d");
}

}  // namespace
