#include <gtest/gtest.h>

#include "platform/Wildcard.h"

TEST(Wildcard, MatchesAsWindowsDoes) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"cf*.ini", "cf1.ini", true},
      {"CF*.INI", "cf1.ini", true},
      {"cf*.ini", "cf.ini", true},
      {"cf*.ini", "cfy.ini.bak", false},
      {"*.ini", "x.ini2", false},  // no 8.3 aliases to match
      {"*.ini*", "cfy.ini.bak", true},
      {"cf?.ini", "cf1.ini", true},
      {"cf?.ini", "cf.ini", false},  // ? needs one character
      {"*.*", "cfnoext", true},
      {"*.*", "a.b", true},
      {"*", "anything at all", true},
      {"*ab", "aab", true},  // the star has to give back characters
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"**", "x", true},
      {"?", "", false},
      {"\xC9*", "\xE9t\xE9.txt", true},  // code page 1252 letters ignore case too
      {"x", "y", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
  }
}

TEST(Wildcard, UpperNamesOrderAsNtfs) {
  EXPECT_TRUE(SameName("Cf1.Ini", "CF1.INI"));
  EXPECT_FALSE(SameName("cf1.ini", "cf1.in"));
  // Upper-case forms: '_' sorts after the letters, digits before them.
  EXPECT_LT(UpperName("zeta.ini"), UpperName("_u.ini"));
  EXPECT_LT(UpperName("10.ini"), UpperName("a.ini"));
  EXPECT_LT(UpperName("alpha.ini"), UpperName("Beta.ini"));
}
