#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/registry/PortableRegistry.h"

namespace {

const uint8_t* Bytes(const char* text) {
  return reinterpret_cast<const uint8_t*>(text);
}

class PortableRegistryTest : public testing::Test {
 protected:
  RegKey Create(RegKey parent, const char* path, bool* created = nullptr) {
    RegKey key = 0;
    EXPECT_EQ(reg_.CreateKey(parent, path, &key, created), kErrorSuccess) << path;
    return key;
  }
  std::vector<std::string> Subkeys(RegKey key) {
    std::vector<std::string> names;
    for (uint32_t i = 0;; ++i) {
      char name[300];
      uint32_t chars = sizeof name;
      uint32_t rc = reg_.EnumKey(key, i, name, &chars);
      if (rc == kErrorNoMoreItems) break;
      EXPECT_EQ(rc, kErrorSuccess);
      names.emplace_back(name, chars);
    }
    return names;
  }
  // Type, size and bytes as RegQueryValueExA gives them into a 64-byte
  // buffer filled with '#'.
  std::string Query(RegKey key, const char* name, uint32_t* type, uint32_t* size) {
    uint8_t buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    *size = sizeof buffer;
    EXPECT_EQ(reg_.QueryValue(key, name, type, buffer, size), kErrorSuccess) << name;
    return std::string(reinterpret_cast<char*>(buffer), *size + 2);
  }

  PortableRegistry reg_;
};

TEST_F(PortableRegistryTest, KeyNamesIgnoreCaseAndKeepTheirFirstSpelling) {
  bool created = false;
  RegKey base = Create(kHKeyLocalMachine, "SOFTWARE\\Base", &created);
  EXPECT_TRUE(created);
  reg_.CloseKey(Create(base, "MixedCase", &created));
  EXPECT_TRUE(created);
  reg_.CloseKey(Create(kHKeyLocalMachine, "software\\BASE\\MIXEDCASE", &created));
  EXPECT_FALSE(created);
  RegKey opened = 0;
  EXPECT_EQ(reg_.OpenKey(base, "mixedcase", &opened), kErrorSuccess);
  reg_.CloseKey(opened);
  // Letters of code page 1252 beyond ASCII match their capitals too.
  reg_.CloseKey(Create(base, "\xE9t\xE9", &created));
  reg_.CloseKey(Create(base, "\xC9T\xC9", &created));
  EXPECT_FALSE(created);
  // Blanks are part of a name.
  reg_.CloseKey(Create(base, "sp "));
  reg_.CloseKey(Create(base, " sp"));
  EXPECT_EQ(Subkeys(base), (std::vector<std::string>{" sp", "MixedCase", "sp ", "\xE9t\xE9"}));
  reg_.CloseKey(base);
}

TEST_F(PortableRegistryTest, PathsSkipEmptyPartsAndRejectALeadingBackslash) {
  bool created = false;
  RegKey deep = Create(kHKeyLocalMachine, "A\\B\\C", &created);
  EXPECT_TRUE(created);
  reg_.CloseKey(deep);
  reg_.CloseKey(Create(kHKeyLocalMachine, "a\\b\\c", &created));
  EXPECT_FALSE(created);
  reg_.CloseKey(Create(kHKeyLocalMachine, "T1\\", &created));
  EXPECT_TRUE(created);
  reg_.CloseKey(Create(kHKeyLocalMachine, "D1\\\\D2"));
  RegKey key = 0;
  EXPECT_EQ(reg_.OpenKey(kHKeyLocalMachine, "T1\\\\", &key), kErrorSuccess);
  reg_.CloseKey(key);
  EXPECT_EQ(reg_.OpenKey(kHKeyLocalMachine, "d1\\d2", &key), kErrorSuccess);
  reg_.CloseKey(key);
  EXPECT_EQ(reg_.OpenKey(kHKeyLocalMachine, "\\A", &key), kErrorBadPathname);
  EXPECT_EQ(reg_.CreateKey(kHKeyLocalMachine, "\\L1", &key, nullptr), kErrorBadPathname);
  EXPECT_EQ(reg_.OpenKey(kHKeyLocalMachine, "NoSuchKey", &key), kErrorFileNotFound);
  EXPECT_EQ(reg_.OpenKey(kHKeyLocalMachine, "A\\NoSuch\\Deeper", &key), kErrorFileNotFound);
  EXPECT_EQ(Subkeys(kHKeyLocalMachine), (std::vector<std::string>{"A", "D1", "T1"}));

  // 255 characters is the longest key name.
  std::string longest(255, 'n');
  reg_.CloseKey(Create(kHKeyLocalMachine, longest.c_str()));
  EXPECT_EQ(reg_.CreateKey(kHKeyLocalMachine, (longest + "n").c_str(), &key, nullptr),
            kErrorInvalidParameter);
}

TEST_F(PortableRegistryTest, AnEmptyOrNullSubkeyOpensTheKeyItselfAsANewHandle) {
  RegKey a = Create(kHKeyLocalMachine, "A");
  for (const char* subkey : {"", static_cast<const char*>(nullptr)}) {
    bool created = false;
    RegKey same = Create(a, subkey, &created);
    EXPECT_TRUE(created);  // Windows reports an empty path as created
    EXPECT_NE(same, a);
    EXPECT_EQ(reg_.SetValue(same, "v", kRegBinary, Bytes("x"), 1), kErrorSuccess);
    EXPECT_EQ(reg_.CloseKey(same), kErrorSuccess);
    RegKey opened = 0;
    EXPECT_EQ(reg_.OpenKey(a, subkey, &opened), kErrorSuccess);
    EXPECT_NE(opened, a);
    reg_.CloseKey(opened);
  }
  EXPECT_EQ(reg_.QueryValue(a, "v", nullptr, nullptr, nullptr), kErrorSuccess);
  EXPECT_TRUE(Subkeys(a).empty());
  reg_.CloseKey(a);
}

// RegOpenKeyExA(HKEY_LOCAL_MACHINE, NULL or "") gives the predefined handle
// itself; RegCreateKeyExA of the same gives a new handle to the root.
TEST_F(PortableRegistryTest, AnEmptySubkeyOfThePredefinedKeyOpensThePredefinedHandle) {
  for (const char* subkey : {"", static_cast<const char*>(nullptr)}) {
    RegKey opened = 0;
    EXPECT_EQ(reg_.OpenKey(kHKeyLocalMachine, subkey, &opened), kErrorSuccess);
    EXPECT_EQ(opened, kHKeyLocalMachine);
    EXPECT_EQ(reg_.CloseKey(opened), kErrorSuccess);

    bool created = false;
    RegKey root = Create(kHKeyLocalMachine, subkey, &created);
    EXPECT_TRUE(created);
    EXPECT_NE(root, kHKeyLocalMachine);
    EXPECT_EQ(reg_.SetValue(root, "v", kRegBinary, Bytes("x"), 1), kErrorSuccess);
    EXPECT_EQ(reg_.CloseKey(root), kErrorSuccess);
    EXPECT_EQ(reg_.CloseKey(root), kErrorInvalidHandle);
  }
  // Closing the predefined handle leaves it usable.
  EXPECT_EQ(reg_.QueryValue(kHKeyLocalMachine, "v", nullptr, nullptr, nullptr), kErrorSuccess);
  EXPECT_TRUE(Subkeys(kHKeyLocalMachine).empty());
}

// A failed open or create leaves 0 in the result, not the caller's old value.
TEST_F(PortableRegistryTest, AFailedOpenOrCreateLeavesANullHandle) {
  RegKey base = Create(kHKeyLocalMachine, "F");
  const RegKey old = 0x5A5A;
  RegKey key = old;
  EXPECT_EQ(reg_.OpenKey(base, "NoSuchKey", &key), kErrorFileNotFound);
  EXPECT_EQ(key, 0u);
  key = old;
  EXPECT_EQ(reg_.OpenKey(base, "\\F", &key), kErrorBadPathname);
  EXPECT_EQ(key, 0u);
  key = old;
  EXPECT_EQ(reg_.CreateKey(base, "\\L1", &key, nullptr), kErrorBadPathname);
  EXPECT_EQ(key, 0u);
  key = old;
  EXPECT_EQ(reg_.CreateKey(base, std::string(256, 'n').c_str(), &key, nullptr),
            kErrorInvalidParameter);
  EXPECT_EQ(key, 0u);
  for (RegKey bad : {RegKey{0}, RegKey{12345}}) {
    key = old;
    EXPECT_EQ(reg_.OpenKey(bad, "", &key), kErrorInvalidHandle);
    // An open below a null parent leaves the caller's handle as it was.
    EXPECT_EQ(key, bad == 0 ? old : 0u);
    key = old;
    bool created = false;
    EXPECT_EQ(reg_.CreateKey(bad, "x", &key, &created), kErrorInvalidHandle);
    EXPECT_EQ(key, 0u);
  }
  reg_.CloseKey(base);
}

// A string written without its final NUL from memory whose next byte is a
// NUL gets that NUL stored too, as Windows does it: a byte count from strlen
// stores the terminated string.
TEST_F(PortableRegistryTest, StringsWrittenWithoutTheirNulStoreTheNulThatFollowsThem) {
  RegKey key = Create(kHKeyLocalMachine, "V");
  uint32_t type = 0, size = 0;
  reg_.SetValue(key, "strlen", kRegSz, Bytes("ThisNeverBreaks"), 15);
  EXPECT_EQ(Query(key, "strlen", &type, &size), std::string("ThisNeverBreaks\0##", 18));
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 16u);
  reg_.SetValue(key, "full", kRegSz, Bytes("FullString"), 10);
  uint8_t ten[10];
  size = sizeof ten;
  EXPECT_EQ(reg_.QueryValue(key, "full", nullptr, ten, &size), kErrorMoreData);
  EXPECT_EQ(size, 11u);
  reg_.SetValue(key, "expand", kRegExpandSz, Bytes("%x%"), 3);
  EXPECT_EQ(Query(key, "expand", &type, &size), std::string("%x%\0##", 6));
  reg_.SetValue(key, "multi", kRegMultiSz, Bytes("a\0b"), 3);
  EXPECT_EQ(Query(key, "multi", &type, &size), std::string("a\0b\0##", 6));

  // Nothing is added when the next byte is not a NUL, when the data ends in
  // one already, when there is no data, or for a type that is not a string.
  reg_.SetValue(key, "next", kRegSz, Bytes("abcX"), 3);
  EXPECT_EQ(Query(key, "next", &type, &size), std::string("abc\0#", 5));
  EXPECT_EQ(size, 3u);  // a NUL is put after the data but not counted
  reg_.SetValue(key, "with_nul", kRegSz, Bytes("abc"), 4);
  EXPECT_EQ(Query(key, "with_nul", &type, &size), std::string("abc\0##", 6));
  reg_.SetValue(key, "two_nuls", kRegMultiSz, Bytes("a\0bc\0"), 6);
  EXPECT_EQ(Query(key, "two_nuls", &type, &size), std::string("a\0bc\0\0##", 8));
  reg_.SetValue(key, "none", kRegSz, Bytes("\0abc"), 0);
  EXPECT_EQ(Query(key, "none", &type, &size), "##");
  reg_.SetValue(key, "empty", kRegSz, nullptr, 0);
  EXPECT_EQ(Query(key, "empty", &type, &size), "##");
  reg_.SetValue(key, "bin", kRegBinary, Bytes("hello"), 5);
  EXPECT_EQ(Query(key, "bin", &type, &size), "hello##");  // binary data gets no NUL
  reg_.SetValue(key, "raw", kRegNone, Bytes("hello"), 5);
  EXPECT_EQ(Query(key, "raw", &type, &size), "hello##");
  reg_.SetValue(key, "short_dw", kRegDword, Bytes("abc"), 3);
  EXPECT_EQ(Query(key, "short_dw", &type, &size), "abc##");
  const uint32_t number = 0x12345678;
  reg_.SetValue(key, "dw", kRegDword, reinterpret_cast<const uint8_t*>(&number), 4);
  EXPECT_EQ(Query(key, "dw", &type, &size), "\x78\x56\x34\x12##");
  reg_.SetValue(key, "custom", 0x1234, Bytes("xy"), 2);
  EXPECT_EQ(Query(key, "custom", &type, &size), "xy##");
  EXPECT_EQ(type, 0x1234u);
  EXPECT_EQ(reg_.SetValue(key, "bad", kRegBinary, nullptr, 3), kErrorNoAccess);
  reg_.CloseKey(key);
}

TEST_F(PortableRegistryTest, QueryReportsSizesAndMissingValuesAsWindowsDoes) {
  RegKey key = Create(kHKeyLocalMachine, "Q");
  reg_.SetValue(key, "sz", kRegSz, Bytes("abc"), 4);
  uint32_t type = 99, size = 0;
  EXPECT_EQ(reg_.QueryValue(key, "SZ", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, 4u);
  uint8_t small[4] = {'#', '#', '#', '#'};
  size = 3;
  EXPECT_EQ(reg_.QueryValue(key, "sz", &type, small, &size), kErrorMoreData);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(small), 4), "####");
  size = 0;
  EXPECT_EQ(reg_.QueryValue(key, "sz", nullptr, small, &size), kErrorMoreData);
  size = 4;
  EXPECT_EQ(reg_.QueryValue(key, "sz", nullptr, small, &size), kErrorSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(small), 4), std::string("abc\0", 4));
  // A string stored without NUL whose buffer is exactly its size gets none.
  // (Written from "aX": with a NUL after the "a", the NUL would be stored.)
  reg_.SetValue(key, "a", kRegSz, Bytes("aX"), 1);
  std::fill(std::begin(small), std::end(small), '#');
  size = 1;
  EXPECT_EQ(reg_.QueryValue(key, "a", nullptr, small, &size), kErrorSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(small), 4), "a###");

  // A missing value sets the type to REG_NONE; without a buffer the size is
  // set to 0 as well, with one it is left alone.
  size = 4;
  EXPECT_EQ(reg_.QueryValue(key, "nope", &type, small, &size), kErrorFileNotFound);
  EXPECT_EQ(type, kRegNone);
  EXPECT_EQ(size, 4u);
  type = 99;
  size = 64;
  EXPECT_EQ(reg_.QueryValue(key, "nope", &type, nullptr, &size), kErrorFileNotFound);
  EXPECT_EQ(type, kRegNone);
  EXPECT_EQ(size, 0u);
  size = 64;
  EXPECT_EQ(reg_.QueryValue(key, "nope", nullptr, nullptr, &size), kErrorFileNotFound);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(reg_.QueryValue(key, "sz", nullptr, nullptr, nullptr), kErrorSuccess);
  EXPECT_EQ(reg_.QueryValue(key, "sz", nullptr, small, nullptr), kErrorInvalidParameter);

  // The unnamed value answers to both "" and NULL; a value name keeps the
  // spelling it was first written with.
  reg_.SetValue(key, "", kRegSz, Bytes("dflt"), 5);
  reg_.SetValue(key, nullptr, kRegSz, Bytes("dflt2"), 6);
  EXPECT_EQ(Query(key, "", &type, &size), std::string("dflt2\0##", 8));
  reg_.SetValue(key, "ValName", kRegSz, Bytes("1"), 2);
  reg_.SetValue(key, "VALNAME", kRegSz, Bytes("2"), 2);
  EXPECT_EQ(Query(key, "valname", &type, &size), std::string("2\0##", 4));
  reg_.CloseKey(key);
}

// RegQueryValueExA(key, name, NULL, &v, buffer, &v): the buffer's size is
// read before the type is stored, and the size is stored last.
TEST_F(PortableRegistryTest, OneVariableCanTakeBothTypeAndSize) {
  RegKey key = Create(kHKeyLocalMachine, "T");
  reg_.SetValue(key, "BIN32", kRegBinary, Bytes("\1\2\3\4"), 4);
  uint8_t buffer[8] = {'#', '#', '#', '#', '#', '#', '#', '#'};
  uint32_t both = 4;
  EXPECT_EQ(reg_.QueryValue(key, "BIN32", &both, buffer, &both), kErrorSuccess);
  EXPECT_EQ(both, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "\1\2\3\4#");
  both = 3;
  EXPECT_EQ(reg_.QueryValue(key, "BIN32", &both, buffer, &both), kErrorMoreData);
  EXPECT_EQ(both, 4u);
  both = 0;
  EXPECT_EQ(reg_.QueryValue(key, "BIN32", &both, nullptr, &both), kErrorSuccess);
  EXPECT_EQ(both, 4u);
  // A missing value: the type, REG_NONE, is what is left.
  both = 8;
  EXPECT_EQ(reg_.QueryValue(key, "nope", &both, buffer, &both), kErrorFileNotFound);
  EXPECT_EQ(both, 0u);
  reg_.CloseKey(key);
}

// Windows keeps subkeys sorted by their upper-case names, so "_" comes after
// the letters; Wine compares lower-case names and puts it before them.
TEST_F(PortableRegistryTest, SubkeysEnumerateSortedByTheirUpperCaseNames) {
  RegKey key = Create(kHKeyLocalMachine, "E");
  for (const char* name : {"b", "A", "c", "B2", "a1", "_x", "Z", "10", "9", "a", "~t", "[", "^",
                           "ab", "a b", "a-b", "a.b"}) {
    reg_.CloseKey(Create(key, name));
  }
  EXPECT_EQ(Subkeys(key), (std::vector<std::string>{"10", "9", "A", "a b", "a-b", "a.b", "a1", "ab",
                                                    "b", "B2", "c", "Z", "[", "^", "_x", "~t"}));
  uint32_t count = 0, longest = 0;
  EXPECT_EQ(reg_.QueryKeyInfo(key, &count, &longest), kErrorSuccess);
  EXPECT_EQ(count, 16u);
  EXPECT_EQ(longest, 3u);
  EXPECT_EQ(reg_.QueryKeyInfo(key, nullptr, nullptr), kErrorSuccess);

  RegKey sub = Create(key, "0abcdef");  // now the first subkey
  char name[8] = "#######";
  uint32_t chars = 7;  // no room for the NUL
  EXPECT_EQ(reg_.EnumKey(key, 0, name, &chars), kErrorMoreData);
  EXPECT_EQ(chars, 7u);
  EXPECT_STREQ(name, "#######");
  chars = 8;
  EXPECT_EQ(reg_.EnumKey(key, 0, name, &chars), kErrorSuccess);
  EXPECT_EQ(chars, 7u);
  EXPECT_STREQ(name, "0abcdef");
  EXPECT_EQ(reg_.EnumKey(key, 17, name, &chars), kErrorNoMoreItems);
  EXPECT_EQ(reg_.QueryKeyInfo(sub, &count, &longest), kErrorSuccess);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(longest, 0u);
  reg_.CloseKey(sub);
  reg_.CloseKey(key);
}

TEST_F(PortableRegistryTest, ClosedAndForeignHandlesAreRefused) {
  RegKey key = Create(kHKeyLocalMachine, "H");
  EXPECT_EQ(reg_.CloseKey(key), kErrorSuccess);
  EXPECT_EQ(reg_.CloseKey(key), kErrorInvalidHandle);
  uint8_t data[4] = {};
  uint32_t size = 4, count = 0;
  char name[8];
  RegKey other = 0;
  for (RegKey bad : {key, RegKey{0}, RegKey{12345}, RegKey{0x80000001}}) {
    EXPECT_EQ(reg_.OpenKey(bad, "x", &other), kErrorInvalidHandle);
    EXPECT_EQ(reg_.CreateKey(bad, "x", &other, nullptr), kErrorInvalidHandle);
    EXPECT_EQ(reg_.QueryKeyInfo(bad, &count, nullptr), kErrorInvalidHandle);
    EXPECT_EQ(reg_.EnumKey(bad, 0, name, &size), kErrorInvalidHandle);
    EXPECT_EQ(reg_.QueryValue(bad, "v", nullptr, data, &size), kErrorInvalidHandle);
    EXPECT_EQ(reg_.SetValue(bad, "v", kRegBinary, data, 1), kErrorInvalidHandle);
  }
  // The predefined key needs no opening, and closing it does nothing.
  EXPECT_EQ(reg_.CloseKey(kHKeyLocalMachine), kErrorSuccess);
  EXPECT_EQ(reg_.QueryKeyInfo(kHKeyLocalMachine, &count, nullptr), kErrorSuccess);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(reg_.OpenKey(kHKeyLocalMachine, "H", nullptr), kErrorInvalidParameter);
}

TEST_F(PortableRegistryTest, ChangedOnceAKeyIsCreatedOrAValueSet) {
  EXPECT_FALSE(reg_.Changed());
  RegKey key = 0;
  EXPECT_EQ(reg_.OpenKey(kHKeyLocalMachine, "", &key), kErrorSuccess);
  reg_.CloseKey(key);
  EXPECT_FALSE(reg_.Changed());
  key = Create(kHKeyLocalMachine, "C");
  EXPECT_TRUE(reg_.Changed());
  reg_.CloseKey(key);

  PortableRegistry other;
  RegKey opened = 0;
  other.CreateKey(kHKeyLocalMachine, "", &opened, nullptr);
  EXPECT_FALSE(other.Changed());  // nothing new was created
  other.SetValue(opened, "v", kRegDword, Bytes("\1\0\0\0"), 4);
  EXPECT_TRUE(other.Changed());
  other.CloseKey(opened);
}

}  // namespace
