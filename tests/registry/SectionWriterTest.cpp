#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "RegistryTestEnv.h"
#include "import/ProductKey.h"
#include "import/SectionWriter.h"

namespace {

struct Stored {
  uint32_t rc = 0;
  uint32_t type = 0;
  std::string data;
};

class SectionWriterTest : public testing::Test {
 protected:
  // The value `name` below the product key's `subkey`, as stored.
  Stored Read(const std::string& subkey, const char* name) {
    Stored stored;
    RegKey key = 0;
    std::string path = std::string(kProductKeyPath) + "\\" + subkey;
    stored.rc = env_.registry.OpenKey(kHKeyLocalMachine, path.c_str(), &key);
    if (stored.rc != kErrorSuccess) return stored;
    uint32_t size = 0;
    stored.rc = env_.registry.QueryValue(key, name, &stored.type, nullptr, &size);
    stored.data.assign(size, '\0');
    env_.registry.QueryValue(key, name, nullptr, reinterpret_cast<uint8_t*>(stored.data.data()),
                             &size);
    env_.registry.CloseKey(key);
    return stored;
  }
  // The last SetValue call for `name`: the type and bytes the writer passed.
  std::optional<RegistryTestEnv::SetCall> Passed(const std::string& name) {
    for (auto it = env_.sets.rbegin(); it != env_.sets.rend(); ++it) {
      if (it->name == name) return *it;
    }
    return std::nullopt;
  }
  bool KeyExists(const std::string& path) {
    RegKey key = 0;
    if (env_.registry.OpenKey(kHKeyLocalMachine, path.c_str(), &key) != kErrorSuccess) return false;
    env_.registry.CloseKey(key);
    return true;
  }

  RegistryTestEnv env_;
};

// Text as the registry stores it from a std::string written without its NUL:
// the NUL that follows the string's characters is stored too.
std::string StoredText(const std::string& text) {
  return text + '\0';
}

TEST(IsAllDigits, OnlyAsciiDigitsAndNeverEmpty) {
  EXPECT_TRUE(IsAllDigits("0123456789"));
  for (const char* text : {"", " 1", "1 ", "-5", "+5", "1.5", "0x10", "12abc", "\xB2", "1e3"}) {
    EXPECT_FALSE(IsAllDigits(text)) << text;
  }
  EXPECT_FALSE(
      IsAllDigits(std::string("12\0"
                              "3",
                              4)));
}

// The writer passes text without its NUL; the registry then stores the NUL
// that follows a std::string's characters, as Windows does.
TEST_F(SectionWriterTest, TypedValueRulePassesNumbersAsDwordsAndAllElseAsTextWithoutItsNul) {
  SectionMap section = {{"zero", "0"},
                        {"lead", "007"},
                        {"max", "4294967295"},
                        {"high", "2147483648"},
                        {"padded", "00000000000000000042"},
                        {"over", "4294967296"},
                        {"huge", "123456789012345678901234567890"},
                        {"neg", "-5"},
                        {"dec", "1.5"},
                        {"hex", "0x10"},
                        {"mixed", "12abc"},
                        {"blank", " 12"},
                        {"abc", "abc"}};
  WriteSectionToRegistry(env_, section, "Typed", false);
  struct Expect {
    const char* name;
    uint32_t type;
    std::string data;
  };
  for (const Expect& e :
       std::initializer_list<Expect>{{"zero", kRegDword, std::string("\0\0\0\0", 4)},
                                     {"lead", kRegDword, std::string("\x07\0\0\0", 4)},
                                     {"max", kRegDword, "\xFF\xFF\xFF\xFF"},
                                     {"high", kRegDword, std::string("\0\0\0\x80", 4)},
                                     {"padded", kRegDword, std::string("\x2A\0\0\0", 4)},
                                     {"over", kRegSz, "4294967296"},
                                     {"huge", kRegSz, "123456789012345678901234567890"},
                                     {"neg", kRegSz, "-5"},
                                     {"dec", kRegSz, "1.5"},
                                     {"hex", kRegSz, "0x10"},
                                     {"mixed", kRegSz, "12abc"},
                                     {"blank", kRegSz, " 12"},
                                     {"abc", kRegSz, "abc"}}) {
    std::optional<RegistryTestEnv::SetCall> passed = Passed(e.name);
    ASSERT_TRUE(passed) << e.name;
    EXPECT_EQ(passed->type, e.type) << e.name;
    EXPECT_EQ(passed->data, e.data) << e.name;  // byte count included: no NUL
    Stored stored = Read("Typed", e.name);
    EXPECT_EQ(stored.rc, kErrorSuccess) << e.name;
    EXPECT_EQ(stored.type, e.type) << e.name;
    EXPECT_EQ(stored.data, e.type == kRegSz ? StoredText(e.data) : e.data) << e.name;
  }
  EXPECT_EQ(env_.sets.size(), section.size());

  WriteSectionToRegistry(env_, {{"n", "123"}}, "Strings", true);
  EXPECT_EQ(Passed("n")->type, kRegSz);
  EXPECT_EQ(Passed("n")->data, "123");
  Stored stored = Read("Strings", "n");
  EXPECT_EQ(stored.type, kRegSz);
  EXPECT_EQ(stored.data, StoredText("123"));
}

TEST_F(SectionWriterTest, LongValuesAreWrittenWhole) {
  SectionMap section;
  for (size_t length : {259, 260, 261, 4095, 100000}) {
    section["v" + std::to_string(length)] = std::string(length, 'x');
  }
  section["digits"] = std::string(300, '7');
  WriteSectionToRegistry(env_, section, "Long", false);
  for (const auto& [name, value] : section) {
    EXPECT_EQ(Passed(name)->type, kRegSz) << name;
    EXPECT_EQ(Passed(name)->data, value) << name;
    Stored stored = Read("Long", name.c_str());
    EXPECT_EQ(stored.type, kRegSz) << name;
    EXPECT_EQ(stored.data, StoredText(value)) << name;
  }
}

TEST_F(SectionWriterTest, EmptyValuesWriteNothingAndKeepWhatIsThere) {
  WriteSectionToRegistry(env_, {{"kept", "old"}, {"other", "1"}}, "E", false);
  env_.sets.clear();
  WriteSectionToRegistry(env_, {{"kept", ""}, {"new", ""}}, "E", false);
  EXPECT_TRUE(env_.sets.empty());
  EXPECT_EQ(Read("E", "kept").data, StoredText("old"));
  EXPECT_EQ(Read("E", "new").rc, kErrorFileNotFound);
  EXPECT_EQ(Read("E", "other").type, kRegDword);
}

TEST_F(SectionWriterTest, EmptySectionStillCreatesEveryLevelOfItsSubkey) {
  ASSERT_FALSE(KeyExists(kProductKeyPath));
  WriteSectionToRegistry(env_, {}, "Access\\IP Rules", false);
  EXPECT_TRUE(KeyExists(std::string(kProductKeyPath) + "\\Access"));
  EXPECT_TRUE(KeyExists(std::string(kProductKeyPath) + "\\Access\\IP Rules"));
  EXPECT_EQ(env_.OpenHandles(), 0u);
}

TEST_F(SectionWriterTest, RepeatedImportsGiveTheSameContentsAndLeaveOtherValuesAlone) {
  SectionMap section = {{"a", "1"}, {"b", "text"}};
  WriteSectionToRegistry(env_, section, "R", false);
  WriteSectionToRegistry(env_, {{"extra", "9"}}, "R", false);
  WriteSectionToRegistry(env_, section, "r", false);
  EXPECT_EQ(Read("R", "a").data, std::string("\1\0\0\0", 4));
  EXPECT_EQ(Read("R", "b").data, StoredText("text"));
  EXPECT_EQ(Read("R", "extra").data, std::string("\x09\0\0\0", 4));
  uint32_t subkeys = 0;
  RegKey product = 0;
  ASSERT_EQ(env_.registry.OpenKey(kHKeyLocalMachine, kProductKeyPath, &product), kErrorSuccess);
  env_.registry.QueryKeyInfo(product, &subkeys, nullptr);
  env_.registry.CloseKey(product);
  EXPECT_EQ(subkeys, 1u);
}

TEST_F(SectionWriterTest, KeysThatCannotBeCreatedAreSkippedAndEveryHandleIsClosed) {
  env_.refusedKeys = {std::string(kProductKeyPath) + "\\Refused"};
  WriteSectionToRegistry(env_, {{"a", "1"}}, "Refused", false);
  EXPECT_FALSE(KeyExists(std::string(kProductKeyPath) + "\\Refused"));
  env_.refusedKeys = {kProductKeyPath};
  WriteSectionToRegistry(env_, {{"a", "1"}}, "Fine", false);
  EXPECT_FALSE(KeyExists(std::string(kProductKeyPath) + "\\Fine"));
  EXPECT_EQ(env_.SetsThroughUnknownHandles(), 0);
  EXPECT_EQ(env_.OpenHandles(), 0u);
}

TEST_F(SectionWriterTest, ImportSectionWritesTheWholeSectionOrJustTheSubkey) {
  env_.profile["Hostnames"] = {{"host1", "10"}, {"Host2", "allow"}, {"empty", ""}};
  CIni profile(env_, "C:\\OLD\\access.ini");
  ImportSection(env_, profile, "Missing", "Access\\Nothing", false);
  EXPECT_TRUE(KeyExists(std::string(kProductKeyPath) + "\\Access\\Nothing"));
  ImportSection(env_, profile, "Hostnames", "Access\\Hostnames", true);
  EXPECT_EQ(Passed("host1")->type, kRegSz);
  EXPECT_EQ(Passed("host1")->data, "10");
  EXPECT_EQ(Read("Access\\Hostnames", "host1").data, StoredText("10"));
  EXPECT_EQ(Read("Access\\Hostnames", "Host2").data, StoredText("allow"));
  EXPECT_EQ(Read("Access\\Hostnames", "empty").rc, kErrorFileNotFound);
  EXPECT_EQ(env_.OpenHandles(), 0u);
}

}  // namespace
