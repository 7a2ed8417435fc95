#include "platform/portable/registry/RegistryImport.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/portable/files/HostFile.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryFileText.h"

namespace fs = std::filesystem;

namespace {

constexpr char kAnsiHeader[] = "REGEDIT4\r\n";

// Only a plain file is read, of no more than a registry file may hold: a
// link may lead out of the image, and a device or a folder is no file.
bool ReadBytes(const fs::path& file, std::string* bytes, std::string* error) {
  std::error_code ec;
  fs::file_status status = fs::symlink_status(file, ec);
  if (!fs::is_regular_file(status)) {
    *error = file.string() + ": not a plain file (a link, a folder or a device); it is not read";
    return false;
  }
  std::uintmax_t size = fs::file_size(file, ec);
  if (ec || size > RegistryFileText::kMaxFileBytes) {
    *error = file.string() + ": " + (ec ? ec.message() : "the file is too large");
    return false;
  }
  std::ifstream in(file, std::ios::binary);
  bytes->resize(static_cast<size_t>(size));
  if (!in || !in.read(bytes->data(), static_cast<std::streamsize>(size))) {
    *error = file.string() + ": cannot be read";
    return false;
  }
  return true;
}

// Whether `entry` can be what a power cut left of an entry of an undo file:
// its key line, as far as it goes, names a key of HKEY_LOCAL_MACHINE. One
// that names another root is whole, and no entry of ours.
bool CouldBeCutShort(std::string_view entry) {
  std::string_view key = entry.substr(0, entry.find("\r\n"));
  for (std::string_view start : {"[HKEY_LOCAL_MACHINE\\", "[-HKEY_LOCAL_MACHINE\\"}) {
    size_t n = std::min(key.size(), start.size());
    if (key.substr(0, n) == start.substr(0, n)) return true;
  }
  return false;
}

// An undo file is made durable entry by entry; each entry starts with a
// blank line and ends with a line end. A power cut while one was written
// can leave its start alone, such as "[-HKEY_LOCAL_MACHI" or a dword cut
// short. That entry stands for a change that was never made: the bytes
// to apply are the file without it. Only the last entry is passed over: a
// file that is faulty before it is refused as a whole.
// ImportText changes nothing when it fails, so each reading is simply tried.
bool ImportUndoFile(PortableRegistry& registry, std::string_view bytes, std::string* error) {
  bool whole = bytes.size() >= 2 && bytes.substr(bytes.size() - 2) == "\r\n";
  if (whole && registry.ImportText(bytes, error)) return true;
  size_t last = bytes.rfind("\r\n\r\n[");
  std::string ignored;
  if (last != std::string_view::npos && CouldBeCutShort(bytes.substr(last + 4)) &&
      registry.ImportText(bytes.substr(0, last + 2), &ignored)) {
    return true;
  }
  return !whole && registry.ImportText(bytes, error);  // else `error` tells the whole file's fault
}

}  // namespace

bool ImportRegistryFiles(const fs::path& registryFile, const std::vector<fs::path>& imports,
                         std::string* error) {
  // The registry is kept as its text, and only the keys the imports name
  // are read from it: a registry of any size costs little more than its
  // text, as in a run.
  PortableRegistry registry;
  std::error_code ec;
  fs::file_status status = fs::symlink_status(registryFile, ec);
  if (fs::exists(status)) {
    if (!fs::is_regular_file(status)) {
      *error = registryFile.string() + ": not a plain file (a link, a folder or a device)";
      return false;
    }
    if (!registry.LoadFile(registryFile, error)) return false;
  }
  return ApplyRegistryFiles(registry, imports, error) &&
         (!registry.Changed() || registry.SaveFile(registryFile, error));
}

bool ApplyRegistryFiles(PortableRegistry& registry, const std::vector<fs::path>& imports,
                        std::string* error) {
  for (const fs::path& file : imports) {
    std::string bytes;
    if (!ReadBytes(file, &bytes, error)) return false;
    // A file cut short before its header was whole (made, then a power cut)
    // holds nothing to apply: its writer makes the header durable before
    // any entry.
    if (std::string_view(kAnsiHeader).substr(0, bytes.size()) == bytes) continue;
    if (!ImportUndoFile(registry, bytes, error)) {
      *error = file.string() + ": " + *error;
      return false;
    }
  }
  return true;
}
