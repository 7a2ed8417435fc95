// The text module: code page 1252 through UTF-8 and UTF-16 and back, and the
// rule by which names compare and sort.
#include <gtest/gtest.h>

#include "platform/portable/text/Text.h"

namespace {

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

TEST(Text, EveryCodePageByteSurvivesEveryEncoding) {
  const std::string bytes = AllBytes();
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(bytes)), bytes);
  for (bool bigEndian : {false, true}) {
    std::string utf16;
    for (char c : bytes)
      AppendUtf16(Cp1252ToUnicode(static_cast<unsigned char>(c)), bigEndian, &utf16);
    EXPECT_EQ(Utf8ToCp1252(Utf16ToUtf8(utf16, bigEndian)), bytes);
  }
  for (int b = 0; b < 256; ++b) {
    char16_t ch = Cp1252ToUnicode(static_cast<unsigned char>(b));
    EXPECT_TRUE(Cp1252Holds(ch)) << b;
    EXPECT_EQ(static_cast<unsigned char>(Cp1252FromUnicode(ch)), b) << b;
  }
  // The euro sign and the five bytes the code page leaves undefined.
  EXPECT_EQ(Cp1252ToUnicode(0x80), 0x20AC);
  EXPECT_EQ(Cp1252ToUnicode(0x81), 0x81);
  EXPECT_FALSE(Cp1252Holds(0x0416));  // Cyrillic Zhe
  EXPECT_EQ(Cp1252FromUnicode(0x0416), '?');
}

// Code page 437 shares ASCII and some letters with code page 1252; what it
// holds goes there and back, what it lacks is refused, never replaced.
TEST(Text, OemCodePage437HoldsWhatItCanAndRefusesTheRest) {
  int held = 0;
  for (int b = 1; b < 256; ++b) {
    std::string ansi(1, static_cast<char>(b)), oem = "unchanged";
    if (!Cp1252ToOem(ansi, &oem, kCodePage437)) continue;
    ++held;
    ASSERT_EQ(oem.size(), 1u) << b;
    EXPECT_EQ(OemToCp1252(oem, kCodePage437), ansi) << b;
    if (b < 0x80) {
      EXPECT_EQ(oem, ansi);
    }
  }
  EXPECT_EQ(held, 127 + 54);  // ASCII, and 54 characters above it
  std::string oem;
  EXPECT_TRUE(Cp1252ToOem("Caf\xE9 \xDF \x83", &oem, kCodePage437));
  EXPECT_EQ(oem, "Caf\x82 \xE1 \x9F");
  EXPECT_FALSE(Cp1252ToOem("\x80", &oem, kCodePage437));        // euro sign
  EXPECT_FALSE(Cp1252ToOem("S\xF8ren", &oem, kCodePage437));    // o slash
  EXPECT_EQ(OemToCp1252("\xB0\x9E\xE0", kCodePage437), "???");  // box, peseta, alpha
}

// As the OEM code page, UTF-8 holds every code page 1252 character: each
// byte goes there as the character it stands for and comes back as itself,
// the five undefined ones as their C1 controls, as in every other encoding
// of the module.
TEST(Text, OemCodePageUtf8HoldsEveryCharacter) {
  for (int b = 0; b < 256; ++b) {
    std::string ansi(1, static_cast<char>(b)), oem = "unchanged";
    ASSERT_TRUE(Cp1252ToOem(ansi, &oem, kCodePageUtf8)) << b;
    std::string expected;
    AppendUtf8(Cp1252ToUnicode(static_cast<unsigned char>(b)), &expected);
    EXPECT_EQ(oem, expected) << b;
    EXPECT_EQ(OemToCp1252(oem, kCodePageUtf8), ansi) << b;
  }
  const std::string all = AllBytes();
  std::string oem;
  ASSERT_TRUE(Cp1252ToOem(all, &oem, kCodePageUtf8));
  EXPECT_EQ(oem, Cp1252ToUtf8(all));
  EXPECT_EQ(OemToCp1252(oem, kCodePageUtf8), all);

  struct Case {
    const char* what;
    std::string ansi;
    std::string utf8;
  };
  const Case encodings[] = {
      {"e acute", "caf\xE9", "caf\xC3\xA9"},
      {"euro sign", "\x80", "\xE2\x82\xAC"},
      {"S caron", "\x8A", "\xC5\xA0"},
      {"y diaeresis", "\xFF", "\xC3\xBF"},
      {"undefined 0x81", "\x81", "\xC2\x81"},
      {"undefined 0x9D", "\x9D", "\xC2\x9D"},
      {"a path", "C:\\\x80\\\x8A.ini", "C:\\\xE2\x82\xAC\\\xC5\xA0.ini"},
  };
  for (const Case& c : encodings) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(Cp1252ToOem(c.ansi, &oem, kCodePageUtf8));
    EXPECT_EQ(oem, c.utf8);
    EXPECT_EQ(OemToCp1252(c.utf8, kCodePageUtf8), c.ansi);
  }
}

// What a UTF-8 script holds that code page 1252 cannot, and what is no
// UTF-8 at all, comes back as '?', one for each character or stray byte.
TEST(Text, OemCodePageUtf8GivesQuestionMarksForWhatCodePage1252Lacks) {
  struct Case {
    const char* what;
    std::string utf8;
    std::string ansi;
  };
  const Case cases[] = {
      {"Cyrillic Zhe",
       "a\xD0\x96"
       "b",
       "a?b"},
      {"CJK ideograph", "\xE4\xB8\xAD", "?"},
      {"beyond U+FFFF", "\xF0\x9F\x98\x80.ini", "?.ini"},
      {"code page 437's e acute", "caf\x82", "caf?"},
      {"a lone continuation byte", "\x80", "?"},
      {"cut short", "ab\xC3", "ab?"},
      {"overlong slash", "\xC0\xAF", "??"},
      {"a surrogate", "\xED\xA0\x80", "???"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(OemToCp1252(c.utf8, kCodePageUtf8), c.ansi);
  }
}

// Only 437 and 65001 are OEM code pages of the emulated machine; in any
// other, nothing beyond ASCII is known: no text converts, and what is read
// keeps ASCII alone.
TEST(Text, OtherOemCodePagesAreNotKnown) {
  EXPECT_TRUE(IsOemCodePage(437));
  EXPECT_TRUE(IsOemCodePage(65001));
  for (uint32_t other : {0u, 850u, 1252u, 65000u}) {
    SCOPED_TRACE(other);
    EXPECT_FALSE(IsOemCodePage(other));
    std::string oem;
    EXPECT_FALSE(Cp1252ToOem("plain.ini", &oem, other));
    EXPECT_EQ(OemToCp1252("copy/y \x82", other), "copy/y ?");
  }
}

TEST(Text, MalformedUtf8AndLoneSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(FirstMalformedUtf8("ok \xC3\xA9"), std::string::npos);
  EXPECT_EQ(FirstMalformedUtf8("ab\xC3"), 2u);            // cut short
  EXPECT_EQ(FirstMalformedUtf8("a\xC0\xAF"), 1u);         // overlong
  EXPECT_EQ(FirstMalformedUtf8("\xED\xA0\x80"), 0u);      // a surrogate
  EXPECT_EQ(FirstMalformedUtf8("\xF4\x90\x80\x80"), 0u);  // beyond U+10FFFF
  EXPECT_EQ(Utf8ToCp1252("a\xFF"
                         "b"),
            "a?b");
  // A surrogate pair is one character; a lone one stands for U+FFFD.
  EXPECT_EQ(Utf16ToUtf8(std::string("\x3D\xD8\x00\xDE", 4), false), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::string("\x00\xD8\x41\x00", 4), false),
            "\xEF\xBF\xBD"
            "A");
  EXPECT_EQ(Utf16ToUtf8(std::string("\x00\x41\x00", 3), true), "A");  // the odd byte is not read
}

TEST(Text, NamesCompareByOneUpperCaseRule) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"abc", "ABC", true},    {"\xE9", "\xC9", true},  // e acute
      {"\x9A", "\x8A", true},                           // s caron
      {"\x9C", "\x8C", true},                           // oe
      {"\x9E", "\x8E", true},                           // z caron
      {"\xFF", "\x9F", true},                           // y diaeresis, whose capital lies at 0x9F
      {"\xF7", "\xD7", false},  // division and multiplication signs are no letters
      {"\xDF", "SS", false},    // sharp s has no one-letter capital
      {"\xB5", "M", false},     // the micro sign has no capital at all
      {"\x83", "F", false},     // f with hook is not F
      {"a ", "a", false},       // blanks count
  };
  for (const Case& c : cases) EXPECT_EQ(SameName(c.a, c.b), c.same) << c.a << " " << c.b;
  // Names sort by their Unicode capitals.
  EXPECT_LT(NameKey("_"), NameKey("\xB5"));
  EXPECT_LT(NameKey("\xB5"), NameKey("\xE0"));
  EXPECT_LT(NameKey("\x9A"), NameKey("\xFF"));
  EXPECT_LT(NameKey("\xFF"), NameKey("\x83"));
  EXPECT_LT(NameKey("\x83"), NameKey("\x80"));
}

TEST(Text, DriveLettersAndAbsolutePaths) {
  EXPECT_TRUE(IsAbsolutePath("C:\\"));
  EXPECT_TRUE(IsAbsolutePath("z:/x"));
  EXPECT_FALSE(IsAbsolutePath("C:"));
  EXPECT_FALSE(IsAbsolutePath("C:x"));
  EXPECT_FALSE(IsAbsolutePath("1:\\"));
  EXPECT_FALSE(IsAbsolutePath("\\\\server\\share"));
  EXPECT_FALSE(IsDriveLetter('@'));
  EXPECT_FALSE(IsDriveLetter('['));
}

}  // namespace
