#include "platform/portable/registry/RegistryImport.h"

#include <fstream>
#include <iterator>

#include "platform/portable/files/HostFile.h"
#include "platform/portable/registry/RegistryFile.h"

namespace fs = std::filesystem;

namespace {

constexpr char kAnsiHeader[] = "REGEDIT4\r\n";

bool ReadBytes(const fs::path& file, std::string* bytes, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    *error = file.string() + ": cannot be read";
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

bool ImportRegistryFiles(const fs::path& registryFile, const std::vector<fs::path>& imports,
                         std::string* error) {
  RegistryKeyNode root;
  RegistryFileFormat format = RegistryFileFormat::kAnsi;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(registryFile, ec))) {
    std::string bytes;
    if (!ReadBytes(registryFile, &bytes, error)) return false;
    if (!ParseRegistryFile(bytes, &root, error, &format)) {
      *error = registryFile.string() + ": " + *error;
      return false;
    }
  }
  for (const fs::path& file : imports) {
    std::string bytes;
    if (!ReadBytes(file, &bytes, error)) return false;
    // A file cut short before its header was whole (made, then a power cut)
    // holds nothing to apply: its writer makes the header durable before
    // any entry.
    if (std::string_view(kAnsiHeader).substr(0, bytes.size()) == bytes) continue;
    if (!ParseRegistryFile(bytes, &root, error)) {
      *error = file.string() + ": " + *error;
      return false;
    }
  }
  std::string text;
  if (!FormatRegistryFile(root, &text, error, format)) return false;
  if (uint32_t code = ReplaceHostFile(registryFile, text); code != 0) {
    *error = registryFile.string() + ": cannot be written (error " + std::to_string(code) + ")";
    return false;
  }
  return true;
}
