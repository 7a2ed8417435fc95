// The compact index of one folder: every entry stays found in any letter
// case through growth and removals, case variants side by side, and host
// spellings that are not the machine's name plainly come back as stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/portable/files/FolderEntries.h"
#include "platform/portable/files/FolderIndex.h"

namespace {

std::string Names(const std::vector<HostEntry>& entries) {
  std::vector<std::string> names;
  for (const HostEntry& entry : entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  std::string all;
  for (const std::string& name : names) all += (all.empty() ? "" : " ") + name;
  return all;
}

TEST(FolderEntries, EntriesAreFoundInAnyCaseThroughGrowthAndRemovals) {
  FolderEntries entries;
  entries.Add({"cf1.ini", HostName("cf1.ini"), HostKind::kFile});
  entries.Add({"CF1.INI", HostName("CF1.INI"), HostKind::kFile});  // a host may hold both
  entries.Add({"B\xFCro", HostName("B\xFCro"), HostKind::kDirectory});
  EXPECT_EQ(Names(entries.Named("Cf1.Ini")), "CF1.INI cf1.ini");
  std::vector<HostEntry> office = entries.Named("B\xDCRO");
  ASSERT_EQ(office.size(), 1u);
  EXPECT_EQ(office[0].host, HostName("B\xFCro"));  // UTF-8 on the host
  EXPECT_EQ(office[0].kind, HostKind::kDirectory);

  for (int i = 0; i < 20000; ++i) {
    std::string name = "dfA" + std::to_string(i) + "host";
    entries.Add({name, HostName(name), HostKind::kFile});
  }
  for (int i = 0; i < 20000; i += 2) {
    std::string name = "dfA" + std::to_string(i) + "host";
    entries.Remove(name, HostName(name));
  }
  entries.Remove("cf1.ini", HostName("cf1.ini"));  // only the one so spelled
  for (int i = 20000; i < 40000; ++i) {            // past the removed ones, which go
    std::string name = "dfA" + std::to_string(i) + "host";
    entries.Add({name, HostName(name), HostKind::kFile});
  }
  EXPECT_EQ(entries.size(), 2u + 10000u + 20000u);
  for (int i = 0; i < 40000; ++i) {
    std::string upper = "DFA" + std::to_string(i) + "HOST";
    ASSERT_EQ(entries.Named(upper).size(), i < 20000 && i % 2 == 0 ? 0u : 1u) << i;
  }
  EXPECT_EQ(Names(entries.Named("cf1.ini")), "CF1.INI");
  EXPECT_EQ(entries.All().size(), entries.size());
  EXPECT_EQ(entries.Named("b\xDCRO").size(), 1u);
}

}  // namespace
