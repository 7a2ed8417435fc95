// make_hive REGISTRY-FILE HIVE: writes HIVE anew, an empty hive built in
// code with what REGISTRY-FILE holds below HKEY_LOCAL_MACHINE\SOFTWARE,
// through the program's own hive store. It makes the example disk's hive
// (scripts/make-example-hive); no hive from a real Windows is needed.
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/hive/HiveStore.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "support/HiveBuilder.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_hive REGISTRY-FILE HIVE\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    std::cerr << "make_hive: " << argv[1] << " cannot be read\n";
    return 1;
  }
  std::ofstream(argv[2], std::ios::binary | std::ios::trunc) << HiveBuilder().Bytes();
  HiveCheck check = HiveCheck::kRefused;
  std::shared_ptr<HiveStore> store = HiveStore::Open(argv[2], {}, &check);
  if (!store) {
    std::cerr << "make_hive: " << argv[2] << " cannot be written\n";
    return 1;
  }
  PortableRegistry registry;
  registry.Attach(store);
  std::string error;
  if (!registry.ImportText(text.str(), &error) || !registry.SaveStore(&error)) {
    std::cerr << "make_hive: " << error << "\n";
    return 1;
  }
  return 0;
}
