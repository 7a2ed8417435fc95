// Pattern matching beyond what the file-operation script's searches cover.
#include <gtest/gtest.h>

#include "platform/portable/files/Wildcard.h"

TEST(Wildcard, StarsGiveBackCharactersAndLettersIgnoreCase) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*ab", "aab", true},
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"**", "x", true},
      {"?", "", false},
      {"\xC9*", "\xE9t\xE9.txt", true},  // letters of code page 1252 ignore case too
      {"*\x8A", "x\x9A", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
  }
}
