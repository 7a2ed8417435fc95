// Feeds arbitrary bytes to the registry-file reader. Whatever it accepts must
// be written back and read again to the very same keys and values (a string
// stored without its final NUL comes back with one), and writing that again
// must give the very same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryTree.h"

namespace {

// What the written file stands for: every REG_SZ terminated by a NUL.
void Terminate(RegistryKeyNode* key) {
  for (auto& [unused, value] : key->values) {
    if (value.type == 1 && (value.data.empty() || value.data.back() != '\0')) {
      value.data.push_back('\0');
    }
  }
  for (auto& [unused, subkey] : key->subkeys) Terminate(subkey.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto root = std::make_shared<RegistryKeyNode>();
  std::string error;
  if (!ParseRegistryFile(bytes, root.get(), &error)) return 0;
  std::string text;
  if (!FormatRegistryFile(*root, &text, &error)) return 0;
  Terminate(root.get());
  auto again = std::make_shared<RegistryKeyNode>();
  if (!ParseRegistryFile(text, again.get(), &error) || !SameRegistryTree(*root, *again)) {
    std::abort();
  }
  std::string second;
  if (!FormatRegistryFile(*again, &second, &error) || second != text) std::abort();
  return 0;
}
