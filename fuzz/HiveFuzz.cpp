// Feeds arbitrary bytes to the program's use of a SOFTWARE hive, as a disk
// from an unknown machine would: the bytes are the hive file (its base
// block signed again, so that the library's reading is reached, not only
// the header check), opened as the registry store with the keys a run
// reaches checked, walked through the registry's own calls, changed as a
// run changes it and committed, then undone as --restore undoes it.
// Nothing may crash; a commit that succeeds must leave a hive that opens
// again and holds the change, and a key the run made must be deletable.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "import/ProductKey.h"
#include "platform/WinError.h"
#include "platform/hive/HiveStore.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "uninstall/UninstallHandOver.h"

namespace {

int budget = 0;  // keys a run may visit

void Walk(PortableRegistry& registry, RegKey key, int depth) {
  if (depth > 8) return;
  uint32_t subkeys = 0, longest = 0;
  registry.QueryKeyInfo(key, &subkeys, &longest);
  char value[512];
  uint32_t size = sizeof value, type = 0;
  registry.QueryValue(key, "", &type, reinterpret_cast<uint8_t*>(value), &size);
  for (uint32_t i = 0; i < subkeys && budget-- > 0; ++i) {
    char name[300];
    uint32_t chars = sizeof name;
    if (registry.EnumKey(key, i, name, &chars) != kErrorSuccess) continue;
    RegKey child = 0;
    if (registry.OpenKey(key, name, &child) != kErrorSuccess) continue;
    Walk(registry, child, depth + 1);
    registry.CloseKey(child);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("hive-fuzz-" + std::to_string(getpid()));
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.size() >= kHiveBaseBlockSize) {
    uint32_t sum = HiveHeaderChecksum(bytes);
    std::memcpy(bytes.data() + 508, &sum, sizeof sum);
  }
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

  const std::vector<HiveReach> reach = {{kProductKeyPath, true}, {kUninstallKeyPath, false}};
  HiveCheck check = HiveCheck::kOk;
  std::shared_ptr<HiveStore> store = HiveStore::Open(file, reach, &check);
  if (store) {
    PortableRegistry registry;
    registry.Attach(store);
    budget = 2000;
    Walk(registry, kHKeyLocalMachine, 0);
    RegKey key = 0;
    const bool vendorThere =
        registry.OpenKey(kHKeyLocalMachine, "SOFTWARE\\Tandrel", &key) == kErrorSuccess;
    registry.CloseKey(key);
    const char value[] = "Fuzz";
    std::string error;
    if (registry.CreateKey(kHKeyLocalMachine, "SOFTWARE\\Tandrel\\LUM\\Queues\\B\xFCro", &key,
                           nullptr) == kErrorSuccess &&
        registry.SetValue(key, "Description", 1, reinterpret_cast<const uint8_t*>(value),
                          sizeof value) == kErrorSuccess &&
        registry.SaveStore(&error)) {
      registry.CloseKey(key);
      PortableRegistry again;
      std::shared_ptr<HiveStore> reopened = HiveStore::Open(file, reach, &check);
      if (!reopened) std::abort();
      again.Attach(reopened);
      RegKey found = 0;
      if (again.OpenKey(kHKeyLocalMachine, "software\\tandrel\\lum\\queues\\B\xDCRO", &found) !=
          kErrorSuccess) {
        std::abort();
      }
      again.CloseKey(found);
      // The way back deletes what the run made.
      if (!vendorThere) {
        if (!again.ImportText("REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Tandrel]\r\n",
                              &error) ||
            !again.SaveStore(&error)) {
          std::abort();
        }
        PortableRegistry undone;
        std::shared_ptr<HiveStore> back = HiveStore::Open(file, reach, &check);
        if (!back) std::abort();
        undone.Attach(back);
        if (undone.OpenKey(kHKeyLocalMachine, "SOFTWARE\\Tandrel", &found) == kErrorSuccess) {
          std::abort();
        }
      }
    }
  }
  std::error_code ec;
  std::filesystem::remove(file, ec);
  return 0;
}
