// Feeds arbitrary bytes to the registry-file reader. Whatever it accepts must
// be written back, in either form (ANSI or UTF-16LE), and read again to the
// very same keys and values (a string written as "text" without its final NUL
// comes back with one), and writing that again must give the very same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryTree.h"

namespace {

// True when `again` holds what `before` held: the same names, types and
// bytes, but for a REG_SZ of whole UTF-16 code units that may have gained its
// final NUL.
bool SameAfterRewrite(const RegistryKeyNode& before, const RegistryKeyNode& again) {
  if (before.name != again.name || before.values.size() != again.values.size() ||
      before.subkeys.size() != again.subkeys.size()) {
    return false;
  }
  for (auto a = before.values.begin(), b = again.values.begin(); a != before.values.end();
       ++a, ++b) {
    const RegistryValue& va = a->second;
    const RegistryValue& vb = b->second;
    if (a->first != b->first || va.name != vb.name || va.type != vb.type) return false;
    bool terminated =
        va.type == 1 && va.data.size() % 2 == 0 &&
        (va.data.empty() || va.data.substr(va.data.size() - 2) != std::string(2, 0)) &&
        vb.data == va.data + std::string(2, '\0');
    if (va.data != vb.data && !terminated) return false;
  }
  for (auto a = before.subkeys.begin(), b = again.subkeys.begin(); a != before.subkeys.end();
       ++a, ++b) {
    if (a->first != b->first || !SameAfterRewrite(*a->second, *b->second)) return false;
  }
  return true;
}

void CheckRewrite(const RegistryKeyNode& root, RegistryFileFormat format) {
  std::string text, error;
  RegistryFileFormat written = format;
  if (!FormatRegistryFile(root, &text, &error, format, &written)) return;
  if (format == RegistryFileFormat::kUtf16 && written != format) std::abort();
  auto again = std::make_shared<RegistryKeyNode>();
  RegistryFileFormat read = RegistryFileFormat::kAnsi;
  if (!ParseRegistryFile(text, again.get(), &error, &read) || read != written ||
      !SameAfterRewrite(root, *again)) {
    std::abort();
  }
  std::string second;
  if (!FormatRegistryFile(*again, &second, &error, written) || second != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto root = std::make_shared<RegistryKeyNode>();
  std::string error;
  if (!ParseRegistryFile(bytes, root.get(), &error)) return 0;
  CheckRewrite(*root, RegistryFileFormat::kAnsi);
  CheckRewrite(*root, RegistryFileFormat::kUtf16);
  return 0;
}
