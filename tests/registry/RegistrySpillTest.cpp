// Keys set aside in the registry's spill: a registry that sets its closed
// keys aside answers and saves exactly as one that holds every key, whatever
// the calls do with them afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "support/TempDir.h"

namespace {

constexpr int kJobs = 3000;

// The same calls on a registry; `keepOpen` holds every handle until the end,
// so that nothing can be set aside.
struct Calls {
  explicit Calls(bool keepOpen) : keepOpen(keepOpen) {}

  RegKey Create(const std::string& path) {
    RegKey key = 0;
    EXPECT_EQ(reg.CreateKey(kHKeyLocalMachine, path.c_str(), &key, nullptr), kErrorSuccess);
    return key;
  }
  void Close(RegKey key) {
    if (keepOpen) {
      held.push_back(key);
    } else {
      EXPECT_EQ(reg.CloseKey(key), kErrorSuccess);
    }
  }
  void SetString(RegKey key, const char* name, const std::string& text) {
    EXPECT_EQ(reg.SetValue(key, name, kRegSz, reinterpret_cast<const uint8_t*>(text.c_str()),
                           static_cast<uint32_t>(text.size() + 1)),
              kErrorSuccess);
  }
  std::string Query(RegKey key, const char* name) {
    char buffer[256] = {};
    uint32_t size = sizeof buffer - 1, type = 0;
    uint32_t rc = reg.QueryValue(key, name, &type, reinterpret_cast<uint8_t*>(buffer), &size);
    return rc == kErrorSuccess ? std::string(buffer) : "error " + std::to_string(rc);
  }
  std::string Saved(const std::filesystem::path& file) {
    std::string error;
    EXPECT_TRUE(reg.SaveFile(file, &error)) << error;
    return ReadAll(file);
  }

  bool keepOpen;
  PortableRegistry reg;
  std::vector<RegKey> held;
};

// An import's pattern: many job keys, each written and closed, then some of
// them visited again in every way a call can.
std::string Answers(Calls& run) {
  std::string answers;
  for (int j = 0; j < kJobs; ++j) {
    RegKey job = run.Create("SOFTWARE\\LUM\\Jobs\\cf" + std::to_string(j));
    run.SetString(job, "ControlFileName", "cfA" + std::to_string(j) + "host");
    uint32_t seqno = static_cast<uint32_t>(j);
    EXPECT_EQ(run.reg.SetValue(job, "Seqno", kRegDword, reinterpret_cast<uint8_t*>(&seqno), 4),
              kErrorSuccess);
    if (j % 7 == 0)
      run.Close(run.Create("SOFTWARE\\LUM\\Jobs\\cf" + std::to_string(j) + "\\Files"));
    run.Close(job);
  }
  // Read back, changed, given a subkey, deleted, enumerated.
  RegKey first = 0;
  EXPECT_EQ(run.reg.OpenKey(kHKeyLocalMachine, "SOFTWARE\\LUM\\Jobs\\cf0", &first), kErrorSuccess);
  answers += run.Query(first, "ControlFileName") + "|";
  run.SetString(first, "Title", "again");
  answers += run.Query(first, "Title") + "|";
  run.Close(first);
  run.Close(run.Create("SOFTWARE\\LUM\\Jobs\\cf14\\Files\\More"));
  std::string error;
  EXPECT_TRUE(run.reg.ImportText(
      "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\LUM\\Jobs\\cf21]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\LUM\\Jobs\\cf28]\r\n\"Seqno\"=-\r\n\"Undo\"=\"1\"\r\n\r\n",
      &error))
      << error;
  RegKey jobs = run.Create("SOFTWARE\\LUM\\Jobs");
  uint32_t subkeys = 0, longest = 0;
  EXPECT_EQ(run.reg.QueryKeyInfo(jobs, &subkeys, &longest), kErrorSuccess);
  answers += std::to_string(subkeys) + " " + std::to_string(longest) + "|";
  char name[64];
  uint32_t chars = sizeof name;
  EXPECT_EQ(run.reg.EnumKey(jobs, 5, name, &chars), kErrorSuccess);
  answers += std::string(name, chars) + "|";
  RegKey later = 0;
  EXPECT_EQ(run.reg.OpenKey(jobs, "CF28", &later), kErrorSuccess);
  answers += run.Query(later, "Undo") + " " + run.Query(later, "Seqno");
  run.Close(later);
  run.Close(jobs);
  return answers;
}

TEST(RegistrySpill, KeysSetAsideAnswerAndSaveAsIfTheyHadNeverLeft) {
  TempDir dir;
  Calls spilling(false), holding(true);
  std::string answers = Answers(spilling);
  EXPECT_EQ(answers, Answers(holding));
  EXPECT_EQ(answers, "cfA0host|again|2999 6|cf1001|1 error 2");
  EXPECT_GT(spilling.reg.SpilledKeys(), 2000u) << "the test no longer sets keys aside";
  EXPECT_EQ(holding.reg.SpilledKeys(), 0u);
  EXPECT_EQ(spilling.Saved(dir / "spilling.reg"), holding.Saved(dir / "holding.reg"));
}

}  // namespace
