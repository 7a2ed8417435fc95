// The text functions the registry keeps its Unicode names and strings with:
// the upper-case rule by which names compare, and the ANSI view.
#include <gtest/gtest.h>

#include <string>

#include "platform/portable/text/Text.h"

namespace {

TEST(UnicodeName, UpperCaseFollowsTheSystemsTable) {
  struct Case {
    char16_t small;
    char16_t capital;  // equal to `small` where the name keeps its form
  };
  const Case cases[] = {
      {u'a', u'A'},           {u'z', u'Z'},           {u'A', u'A'},
      {u'_', u'_'},           {u'\u00E9', u'\u00C9'},  // e acute
      {u'\u00FF', u'\u0178'},  // y diaeresis, whose capital is in Latin Extended-A
      {u'\u00F7', u'\u00F7'},  // the division sign is no letter
      {u'\u00DF', u'\u00DF'},  // sharp s has no one-letter capital here
      {u'\u00B5', u'\u00B5'},  // micro sign: capital mu's small letter is mu, not it
      {u'\u0101', u'\u0100'},  // a macron (Latin Extended-A)
      {u'\u0131', u'\u0131'},  // dotless i: I's small letter is i
      {u'\u017F', u'\u017F'},  // long s
      {u'\u0180', u'\u0243'},  // b stroke (Latin Extended-B), capital far away
      {u'\u01C6', u'\u01C4'},  // dz caron
      {u'\u01C5', u'\u01C5'},  // its title-case form stays
      {u'\u0192', u'\u0191'},  // f with hook
      {u'\u0250', u'\u2C6F'},  // turned a (IPA)
      {u'\u03B1', u'\u0391'},  // alpha
      {u'\u03AC', u'\u0386'},  // alpha with tonos
      {u'\u03C2', u'\u03C2'},  // final sigma: Sigma's small letter is sigma
      {u'\u03C3', u'\u03A3'},  // sigma
      {u'\u03D0', u'\u03D0'},  // beta symbol
      {u'\u0436', u'\u0416'},  // zhe
      {u'\u0444', u'\u0424'},  // ef
      {u'\u0450', u'\u0400'},  // ie grave
      {u'\u04CF', u'\u04C0'},  // small palochka
      {u'\u0501', u'\u0500'},  // Cyrillic Supplement
      {u'\u0561', u'\u0531'},  // ayb (Armenian)
      {u'\u0586', u'\u0556'},  // feh (Armenian)
      {u'\u1E01', u'\u1E00'},  // a ring below (Latin Extended Additional)
      {u'\u1EA1', u'\u1EA0'},  // a dot below (Vietnamese)
      {u'\u1F00', u'\u1F08'},  // alpha psili (Greek Extended)
      {u'\uFF41', u'\uFF21'},  // full-width a
      {u'\uFF5A', u'\uFF3A'},  // full-width z
      {u'\u4E2D', u'\u4E2D'},  // CJK: no case
      {u'\xD83D', u'\xD83D'},  // half of a surrogate pair
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnicodeUpperCase(c.small), c.capital) << std::hex << int(c.small);
    // A capital is its own upper-case form.
    EXPECT_EQ(UnicodeUpperCase(c.capital), c.capital) << std::hex << int(c.capital);
  }
  EXPECT_TRUE(SameUnicodeName(u"\u0416\u0424", u"\u0436\u0444"));
  EXPECT_FALSE(SameUnicodeName(u"\u0416", u"\u0424"));
  EXPECT_FALSE(SameUnicodeName(u"ab", u"ab "));
  EXPECT_EQ(UnicodeNameKey(u"Vendor\u0436\uFF41"), u"VENDOR\u0416\uFF21");
}

// Names of code page 1252 compare and sort as they did before names became
// Unicode: the same key for every byte.
TEST(UnicodeName, CodePage1252NamesKeepTheirKeys) {
  for (int b = 0; b < 256; ++b) {
    char16_t ch = Cp1252ToUnicode(static_cast<unsigned char>(b));
    EXPECT_EQ(UnicodeUpperCase(ch), UpperCase(ch)) << b;
  }
}

TEST(UnicodeName, TheAnsiViewHasOneByteForEachCodeUnit) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16(all)), all);
  EXPECT_TRUE(Cp1252HoldsAll(Cp1252ToUtf16(all)));
  // Zhe, a CJK character and a surrogate pair: a '?' for each code unit.
  const std::u16string text = u"a\u0416\u4E2D\U0001F600\u20AC";
  EXPECT_EQ(Utf16ToCp1252(text), "a????\x80");
  EXPECT_FALSE(Cp1252HoldsAll(text));
  EXPECT_EQ(Utf8ToUtf16(Utf16UnitsToUtf8(text)), text);
  EXPECT_EQ(Utf16UnitsToUtf8(u"\u0416"), "\xD0\x96");
  EXPECT_EQ(Utf16UnitsToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToUtf16("a\xFF"), u"a\uFFFD");
}

}  // namespace
