#include "support/TempDir.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> tempDirCounter{0};

// Where test folders go: in memory where the host offers it, since the
// programs sync every file they replace and a disk makes each sync slow.
fs::path TestFolderBase() {
#ifndef _WIN32
  std::error_code ec;
  if (fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
#endif
  return fs::temp_directory_path();
}

}  // namespace

TempDir::TempDir() {
  // Several test programs (and several runs under one Wine prefix) may run at
  // once: a random part keeps their folders apart.
  static const unsigned processTag = std::random_device{}();
  path_ = TestFolderBase() /
          ("checklum-test-" + std::to_string(processTag) + "-" + std::to_string(tempDirCounter++));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files would stop the removal on Windows.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    std::error_code ignored;
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ec);
}

fs::path TempDir::operator/(const std::string& relative) const {
  // UTF-8 on every host, as the image names its files.
  return path_ / fs::path(std::u8string(relative.begin(), relative.end())).make_preferred();
}

void TempDir::Write(const std::string& relative, const std::string& content) const {
  fs::path file = *this / relative;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
}

void TempDir::MakeFolder(const std::string& relative) const {
  fs::create_directories(*this / relative);
}

std::optional<std::string> TempDir::Read(const std::string& relative) const {
  std::ifstream in(*this / relative, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool TempDir::Exists(const std::string& relative) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(*this / relative, ec));
}

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::filesystem::path& file, const std::string& bytes) {
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}
