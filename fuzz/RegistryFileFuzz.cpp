// Feeds arbitrary bytes to the registry-file reader. Whatever it accepts must
// be written back, in either form (ANSI or UTF-16LE), and read again to the
// very same keys and values (a string written as "text" without its final NUL
// comes back with one), and writing that again must give the very same bytes.
//
// The indexed reader (RegistryFileText) must accept and refuse exactly what
// the tree reader does, with the same reason; the keys and values it fills
// in must be the tree reader's; the file it writes back untouched must read
// as the very same keys and values, in the form it was read in; and written
// back after a run's change (a value set in a key of the file, a new key),
// it must read as the tree reader's keys and values with that change.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Env.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryFileText.h"
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
    if (a->first != b->first || !SameAfterRewrite(*a->second.node, *b->second.node)) return false;
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

void FillAll(const RegistryFileText& file, RegistryKeyNode* key) {
  file.FillValues(key);
  file.FillSubkeys(key);
  for (auto& [unused, subkey] : key->subkeys) FillAll(file, subkey.node.get());
}

// What `root`, partly still in `file`, writes back as, read again.
std::shared_ptr<RegistryKeyNode> WrittenBack(const RegistryFileText& file,
                                             const RegistryKeyNode& root) {
  std::string bytes, error;
  auto append = [&bytes](std::string_view piece) {
    bytes += piece;
    return true;
  };
  RegistryFileFormat written = RegistryFileFormat::kAnsi, read = RegistryFileFormat::kAnsi;
  if (!WriteRegistryFile(root, &file, file.Format(), append, &error, &written)) std::abort();
  auto again = std::make_shared<RegistryKeyNode>();
  if (written != file.Format() || !ParseRegistryFile(bytes, again.get(), &error, &read) ||
      read != written) {
    std::abort();
  }
  return again;
}

void CheckIndex(std::string_view bytes, bool parsed, const std::string& parseError,
                const RegistryKeyNode& tree) {
  RegistryFileText file;
  std::string error;
  if (file.Read(std::string(bytes), &error) != parsed || (!parsed && error != parseError)) {
    std::abort();
  }
  if (!parsed) return;

  auto filled = file.Root();
  FillAll(file, filled.get());
  if (!SameRegistryTree(*filled, tree)) std::abort();

  if (!SameRegistryTree(*WrittenBack(file, *file.Root()), tree)) std::abort();

  // A run's change, made as PortableRegistry makes it, and the same change
  // made to the tree reader's keys.
  auto changed = file.Root();
  auto expected = std::make_shared<RegistryKeyNode>();
  ParseRegistryFile(bytes, expected.get(), &error);
  const std::string number("\1\2\3\4", 4);
  file.FillSubkeys(changed.get());
  if (!changed->subkeys.empty()) {
    RegistryKeyNode* key = changed->subkeys.begin()->second.node.get();
    file.FillValues(key);
    if (key->SetValue(u"Fuzz", kRegDword, number)) key->edited = true;
    expected->FindSubkey(std::u16string_view(key->name))->SetValue(u"Fuzz", kRegDword, number);
  }
  RegistryKeyNode* key = changed.get();
  RegistryKeyNode* mirror = expected.get();
  bool created = false;
  for (const char16_t* name : {u"SOFTWARE", u"Tandrel", u"LUM"}) {
    file.FillSubkeys(key);
    key = key->AddSubkey(name, &created);
    mirror = mirror->AddSubkey(name, &created);
  }
  file.FillValues(key);
  const std::string version(
      "2\0.\0"
      "5\0\0\0",
      8);
  if (key->SetValue(u"Version", kRegSz, version)) key->edited = true;
  mirror->SetValue(u"Version", kRegSz, version);
  if (!SameAfterRewrite(*expected, *WrittenBack(file, *changed))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto root = std::make_shared<RegistryKeyNode>();
  std::string error;
  bool parsed = ParseRegistryFile(bytes, root.get(), &error);
  if (parsed) {
    CheckRewrite(*root, RegistryFileFormat::kAnsi);
    CheckRewrite(*root, RegistryFileFormat::kUtf16);
  }
  CheckIndex(bytes, parsed, error, *root);
  return 0;
}
