// The set of file names the import remembers: names the file system takes
// for one are one, whatever letters differ in case, and every name stays
// found however many there are.
#include <gtest/gtest.h>

#include <string>

#include "import/FileNameSet.h"
#include "platform/portable/EnvPortable.h"
#include "support/TempDir.h"

namespace {

TEST(FileNameSet, NamesTheFileSystemTakesForOneAreOne) {
  TempDir image;
  PortableOptions options;
  options.image = image.path();
  EnvPortable env(options);
  FileNameSet names(env);
  EXPECT_FALSE(names.Contains("dfA1host"));
  EXPECT_TRUE(names.Insert("dfA1host"));
  EXPECT_FALSE(names.Insert("DFA1HOST"));
  EXPECT_TRUE(names.Contains("Dfa1Host"));
  // Letters beyond ASCII fold as the file system folds them.
  EXPECT_TRUE(names.Insert("B\xFCro"));      // Büro
  EXPECT_TRUE(names.Contains("B\xDCRO"));    // BÜRO
  EXPECT_FALSE(names.Contains("B\xF6ro"));   // Böro: another name
  EXPECT_TRUE(names.Insert("\xE9t\xE9"));    // été
  EXPECT_TRUE(names.Contains("\xC9T\xC9"));  // ÉTÉ
  EXPECT_TRUE(names.Insert("dfA1host~2"));
  EXPECT_EQ(names.size(), 4u);

  // Through many growths of the table, every name is found, and a name that
  // differs in one character is not.
  for (int i = 0; i < 50000; ++i) ASSERT_TRUE(names.Insert("cfA" + std::to_string(i) + "host"));
  for (int i = 0; i < 50000; ++i) {
    ASSERT_TRUE(names.Contains("CFA" + std::to_string(i) + "HOST")) << i;
    ASSERT_FALSE(names.Contains("cfB" + std::to_string(i) + "host")) << i;
  }
  EXPECT_TRUE(names.Contains("b\xDCro"));
  names.Clear();
  EXPECT_FALSE(names.Contains("dfA1host"));
  EXPECT_TRUE(names.Insert("dfA1host"));
}

}  // namespace
