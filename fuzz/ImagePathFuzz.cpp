// Feeds arbitrary Windows paths to the image's path resolution (and pairs of
// pattern and name to the wildcard matcher). A resolved host path must lie in
// a drive folder of the image, whatever the path says.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/portable/files/ImagePath.h"
#include "platform/portable/files/Wildcard.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Image() {
  static const fs::path image = [] {
    fs::path folder = fs::temp_directory_path() / "checklum-fuzz-image";
    fs::create_directories(folder / "C" / "Old" / "Sub");
    fs::create_directories(folder / "D" / "Tools");
    return folder;
  }();
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string path(reinterpret_cast<const char*>(data) + 1, size - 1);
  // D: is given as a folder of its own (here the image's own D), as
  // --drive gives one: its paths must stay inside it too.
  static const ImagePath paths(Image(), {{'D', Image() / "D"}}, "C:\\Old\\Sub");
  ImageLocation location = paths.Locate(path, (data[0] & 1) != 0);
  if (!location.host.empty()) {
    fs::path relative = location.host.lexically_relative(Image());
    if (relative.empty() || *relative.begin() == ".." || relative.begin()->string().size() != 1) {
      std::abort();
    }
    for (const fs::path& part : relative) {
      if (part == ".." || part == ".") std::abort();
    }
  }
  size_t split = path.find('\n');
  if (split != std::string::npos) WildcardMatch(path.substr(0, split), path.substr(split + 1));
  return 0;
}
