#include "support/HiveImage.h"

#ifndef _WIN32
#include <gtest/gtest.h>

#include <fstream>

#include "platform/hive/HiveStore.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "support/HiveBuilder.h"
#include "support/TempDir.h"

bool HiveFromRegistryFile(const std::filesystem::path& registryFile,
                          const std::filesystem::path& hive) {
  std::filesystem::create_directories(hive.parent_path());
  std::ofstream(hive, std::ios::binary | std::ios::trunc) << HiveBuilder().Bytes();
  HiveCheck check = HiveCheck::kRefused;
  std::shared_ptr<HiveStore> store = HiveStore::Open(hive, {}, &check);
  EXPECT_NE(store, nullptr) << static_cast<int>(check);
  if (!store) return false;
  PortableRegistry registry;
  registry.Attach(store);
  std::string error;
  bool written = registry.ImportText(ReadAll(registryFile), &error) && registry.SaveStore(&error);
  EXPECT_TRUE(written) << error;
  return written;
}
#endif
