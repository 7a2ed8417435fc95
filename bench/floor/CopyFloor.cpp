// The floor the import is measured against: the least file work any tool that
// migrates an installation must do, done with plain standard-library code in
// one process. Over IMAGE/C (the Setup folder left out) it reads every INI
// file once, copies every other file (the jobs' data files) once into
// Setup/Spool, and moves every INI file into Setup/Backup as a copy and a
// delete. Prints the wall time in seconds and what it handled. With --sync
// it ends with one sync of the file system, the least that leaves its work
// durable, as the import's is.
//   copy_floor [--sync] IMAGE
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool IsIni(const fs::path& file) {
  std::string extension = file.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".ini";
}

}  // namespace

int main(int argc, char** argv) {
  bool sync = argc == 3 && std::string(argv[1]) == "--sync";
  if (argc != 2 && !sync) {
    std::fprintf(stderr, "usage: copy_floor [--sync] IMAGE\n");
    return 2;
  }
  const fs::path drive = fs::path(argv[argc - 1]) / "C";
  const fs::path setup = drive / "Setup";
  auto start = std::chrono::steady_clock::now();

  std::vector<fs::path> inis, data;
  for (auto it = fs::recursive_directory_iterator(drive); it != fs::end(it); ++it) {
    if (it->path() == setup) {
      it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file()) continue;
    (IsIni(it->path()) ? inis : data).push_back(it->path());
  }
  fs::create_directories(setup / "Spool");
  fs::create_directories(setup / "Backup");

  size_t bytesRead = 0;
  for (const fs::path& ini : inis) {
    std::ifstream in(ini, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytesRead += text.size();
  }
  size_t index = 0;
  for (const fs::path& file : data) {
    fs::copy_file(file,
                  setup / "Spool" / (std::to_string(index++) + "-" + file.filename().string()));
  }
  for (const fs::path& ini : inis) {
    fs::copy_file(ini,
                  setup / "Backup" / (std::to_string(index++) + "-" + ini.filename().string()));
    fs::remove(ini);
  }

  if (sync) {
    int fd = open(drive.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || syncfs(fd) != 0) {
      std::perror("syncfs");
      return 1;
    }
    close(fd);
  }
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::printf("%.3f s: read and moved %zu INI files (%zu bytes), copied %zu data files\n",
              seconds.count(), inis.size(), bytesRead, data.size());
  return 0;
}
