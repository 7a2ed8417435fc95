// Feeds arbitrary bytes to the profile parser and, as a profile file, to the
// profile service's read calls with buffers of exactly the size they are
// told (so any byte written or read past one is caught). The first input
// byte picks the small buffer size. A write of one key must read back.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/portable/profile/ProfileService.h"
#include "platform/portable/profile/ProfileText.h"

namespace fs = std::filesystem;

namespace {

const fs::path& ProfilePath() {
  static const fs::path path = [] {
    fs::path dir = fs::temp_directory_path() / ("profile-fuzz-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir / "fuzz.ini";
  }();
  return path;
}

// One read into a heap buffer of exactly `size` bytes; checks the result's
// shape and returns the text up to the first NUL.
std::string Read(ProfileService& service, const char* section, const char* key, uint32_t size) {
  std::unique_ptr<char[]> buffer(new char[size == 0 ? 1 : size]);
  uint32_t error = 0;
  uint32_t count =
      service.ReadString(section, key, "dflt", buffer.get(), size, ProfilePath(), &error);
  if (size == 0) return "";
  if (count >= size || buffer[count] != '\0') std::abort();
  return std::string(buffer.get(), strnlen(buffer.get(), count));
}

// The names of a list read into `size` bytes (up to its first empty name).
std::vector<std::string> Names(ProfileService& service, const char* section, uint32_t size) {
  std::unique_ptr<char[]> buffer(new char[size]);
  uint32_t error = 0;
  uint32_t count =
      service.ReadString(section, nullptr, "", buffer.get(), size, ProfilePath(), &error);
  if (count >= size) std::abort();
  std::vector<std::string> names;
  for (uint32_t pos = 0; pos < count && buffer[pos] != '\0' && names.size() < 16;) {
    size_t length = strnlen(buffer.get() + pos, count - pos);
    names.emplace_back(buffer.get() + pos, length);
    pos += static_cast<uint32_t>(length) + 1;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint32_t small = data[0] % 24;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  ProfileText text = ProfileText::Parse(bytes);
  // Every span must lie inside the held text (checked by the sanitizer).
  // Names and values are trimmed and end at a NUL.
  auto check = [](std::string_view part) {
    if (part.find('\0') != std::string_view::npos) std::abort();
    if (!part.empty() && (IsProfileBlank(part.front()) || IsProfileBlank(part.back()))) {
      std::abort();
    }
  };
  for (const ProfileSection& section : text.sections()) check(text.Text(section.name));
  for (const ProfileLine& line : text.lines()) {
    check(text.Text(line.name));
    check(text.Text(line.value));
  }

  {
    std::ofstream out(ProfilePath(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ProfileService service;
  uint32_t error = 0;
  Read(service, nullptr, nullptr, small);
  for (const std::string& section : Names(service, nullptr, 4096)) {
    Read(service, section.c_str(), nullptr, small);
    for (const std::string& key : Names(service, section.c_str(), 4096)) {
      Read(service, section.c_str(), key.c_str(), small);
      Read(service, section.c_str(), key.c_str(), 4096);
      service.ReadInt(section.c_str(), key.c_str(), 7, ProfilePath(), &error);
    }
  }
  service.ReadInt(nullptr, "k", 7, ProfilePath(), &error);
  service.ReadInt("S", nullptr, 7, ProfilePath(), &error);

  if (service.WriteString(" S ", "k", "fuzz value", ProfilePath(), &error) &&
      Read(service, "s", "K", 4096) != "fuzz value") {
    std::abort();
  }
  return 0;
}
