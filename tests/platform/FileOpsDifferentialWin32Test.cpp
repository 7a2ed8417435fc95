// The file-operation script run against the real Windows API (on a real
// temporary folder) and against the portable backend (on an image holding
// the same tree): both must answer alike.
#include <gtest/gtest.h>

#include <set>

#include "platform/FileOpsScript.h"
#include "platform/portable/EnvPortable.h"
#include "platform/win32/EnvWin32.h"
#include "support/TempDir.h"

namespace {

// Steps where the system under test differs from the portable backend by a
// choice of the latter:
const std::set<std::string> kDifferByChoice = {
    // The system's volume has 8.3 aliases, and patterns match them too, so
    // "*.ini" finds cfx.ini2 (alias CFX~~SY2.INI); the image's volume has no
    // short names.
    "find.cfIni",
    "find.cfIniUpper",
    "find.starIni",
    // Run as the superuser (as in CI), Wine writes over a read-only file;
    // Windows refuses with error 5, as the portable backend does.
    "copy.readOnlyTarget",
    "copy.readOnlyTargetContent",
    "write.readOnly",
};

}  // namespace

TEST(FileOpsDifferential, BothBackendsAnswerAlike) {
  TempDir real;
  BuildFileOpsTree(real.path());
  EnvWin32 win32;
  FileOpsOutcomes expected = RunFileOps(win32, real.path().string(), real.path());

  FileOpsOutcomes actual = RunFileOpsOnImage();

  ASSERT_EQ(expected.size(), actual.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i].first, actual[i].first);
    if (kDifferByChoice.count(expected[i].first)) continue;
    EXPECT_EQ(expected[i].second, actual[i].second) << expected[i].first;
  }
}

TEST(FileOpsDifferential, SystemTextsAreTheSystems) {
  EnvWin32 win32;
  TempDir image;
  PortableOptions options;
  options.image = image.path();
  EnvPortable portable(options);
  for (uint32_t code :
       {0u,   1u,   2u,   3u,   5u,    6u,    8u,    18u,    21u,         29u,
        30u,  32u,  80u,  87u,  112u,  122u,  123u,  161u,   183u,        234u,
        193u, 259u, 317u, 998u, 1009u, 1010u, 1018u, 12345u, 0xDEADBEEFu, 0x80070002u}) {
    std::string expected, actual;
    bool expectedOk = win32.SystemMessage(code, &expected);
    uint32_t expectedError = expectedOk ? 0 : win32.LastError();
    bool actualOk = portable.SystemMessage(code, &actual);
    EXPECT_EQ(expectedOk, actualOk) << code;
    EXPECT_EQ(expected, actual) << code;
    if (!expectedOk) {
      EXPECT_EQ(expectedError, portable.LastError()) << code;
    }
  }
}

// The OEM code page, in which restore scripts are written: the system's
// conversion and the image's agree on every byte, alone and in a path.
TEST(FileOpsDifferential, OemTextIsTheSystems) {
  EnvWin32 win32;
  TempDir image;
  PortableOptions options;
  options.image = image.path();
  EnvPortable portable(options);
  std::string all;
  for (int b = 1; b < 256; ++b) {
    std::string ansi(1, static_cast<char>(b)), expected, actual;
    bool expectedOk = win32.ToOemText(ansi, &expected);
    EXPECT_EQ(portable.ToOemText(ansi, &actual), expectedOk) << b;
    if (expectedOk) {
      EXPECT_EQ(actual, expected) << b;
      all += ansi;
    }
  }
  std::string expected, actual;
  EXPECT_TRUE(win32.ToOemText("C:\\" + all, &expected));
  EXPECT_TRUE(portable.ToOemText("C:\\" + all, &actual));
  EXPECT_EQ(actual, expected);
}

// Where Windows uses UTF-8 for worldwide language support, the OEM code page
// is 65001: the system's own conversion to it (which refuses the flags and
// the report of a default character that other code pages take) and the
// image's agree, and every character can be named.
TEST(FileOpsDifferential, Utf8OemTextIsTheSystems) {
  TempDir image;
  PortableOptions options;
  options.image = image.path();
  options.oemCodePage = 65001;
  EnvPortable portable(options);
  std::string all;
  for (int b = 1; b < 256; ++b) {
    std::string ansi(1, static_cast<char>(b)), expected, actual;
    ASSERT_TRUE(AnsiToCodePage(ansi, CP_UTF8, &expected)) << b;
    ASSERT_TRUE(portable.ToOemText(ansi, &actual)) << b;
    EXPECT_EQ(actual, expected) << b;
    all += ansi;
  }
  std::string expected, actual;
  ASSERT_TRUE(AnsiToCodePage("C:\\" + all, CP_UTF8, &expected));
  EXPECT_TRUE(portable.ToOemText("C:\\" + all, &actual));
  EXPECT_EQ(actual, expected);
}
