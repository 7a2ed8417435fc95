// How long it takes to make one group of new files durable, four ways:
//   syncfs   one sync of the whole file system;
//   each     fdatasync of every file, then fsync of their folder;
//   started  writeback started for every file first (sync_file_range), then
//            fdatasync of each and fsync of the folder, so that the waits overlap;
//   together the program's own flush (FlushHostFiles): writeback started for
//            every file, then all flushes, the folder's too, issued at once
//            from a few threads.
// Writes GROUPS groups of FILES files of SIZE bytes into FOLDER (which must
// exist, on the file system to measure) and prints the mean seconds per
// group for each way. Run it once on a quiet file system and once beside a
// writer of unrelated data: syncfs waits for the other writer's data too.
//   flush_bench FOLDER [GROUPS FILES SIZE]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/portable/files/HostFile.h"

namespace {

enum class Way { kSyncfs, kEach, kStarted, kTogether };

std::vector<int> WriteGroup(const std::string& folder, int group, int files, size_t size,
                            std::vector<std::filesystem::path>* names) {
  std::vector<char> data(size, 'x');
  std::vector<int> fds;
  names->clear();
  for (int f = 0; f < files; ++f) {
    std::string name = folder + "/g" + std::to_string(group) + "-" + std::to_string(f);
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, data.data(), size) != static_cast<ssize_t>(size)) {
      std::perror(name.c_str());
      std::exit(1);
    }
    fds.push_back(fd);
    names->push_back(name);
  }
  return fds;
}

void Flush(Way way, const std::vector<int>& fds, int folder,
           const std::vector<std::filesystem::path>& names) {
  bool ok = true;
  if (way == Way::kTogether) {
    ok = FlushHostFiles(names) == 0;
  } else if (way == Way::kSyncfs) {
    ok = syncfs(folder) == 0;
  } else {
    if (way == Way::kStarted) {
      for (int fd : fds) ok = sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE) == 0 && ok;
    }
    for (int fd : fds) ok = fdatasync(fd) == 0 && ok;
    ok = fsync(folder) == 0 && ok;
  }
  if (!ok) {
    std::perror("flush");
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 5) {
    std::fprintf(stderr, "usage: flush_bench FOLDER [GROUPS FILES SIZE]\n");
    return 2;
  }
  std::string folder = argv[1];
  int groups = argc == 5 ? std::atoi(argv[2]) : 8;
  int files = argc == 5 ? std::atoi(argv[3]) : 256;
  size_t size = argc == 5 ? std::strtoul(argv[4], nullptr, 10) : 65536;
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || groups <= 0 || files <= 0) {
    std::perror(folder.c_str());
    return 2;
  }
  const struct {
    Way way;
    const char* name;
  } ways[] = {{Way::kSyncfs, "syncfs"},
              {Way::kEach, "each"},
              {Way::kStarted, "started"},
              {Way::kTogether, "together"}};
  int group = 0;
  for (const auto& [way, name] : ways) {
    double seconds = 0;
    for (int g = 0; g < groups; ++g) {
      std::vector<std::filesystem::path> names;
      std::vector<int> fds = WriteGroup(folder, group++, files, size, &names);
      auto start = std::chrono::steady_clock::now();
      Flush(way, fds, dir, names);
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      for (int fd : fds) close(fd);
    }
    std::printf("%s %.4f\n", name, seconds / groups);
  }
  return 0;
}
