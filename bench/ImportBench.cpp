// The whole import over a generated old installation: 10 queues of 100 jobs,
// each job with 2 data files of 4 KiB, run by the Linux program's Env over a
// fresh copy of the image in every iteration (the copy is not timed); and
// the backup names of many files that want one name.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/CheckLUMDlg.h"
#include "import/BackupNames.h"
#include "platform/portable/EnvPortable.h"

namespace fs = std::filesystem;

namespace {

constexpr int kQueues = 10;
constexpr int kJobsPerQueue = 100;
constexpr int kDataFiles = 2;

void WriteFile(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

// The installation, made once; each iteration works on a copy.
const fs::path& Installation() {
  static const fs::path image = [] {
    fs::path root = fs::temp_directory_path() / ("import-bench-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::path c = root / "C";
    WriteFile(c / "WINDOWS/lum.ini", "[Settings]\r\nIni=C:\\LUM\\lum.ini\r\n");
    std::string main = "[Settings]\r\nPort=515\r\n[Queues]\r\n";
    for (int q = 0; q < kQueues; ++q)
      main += "Queue" + std::to_string(q) + "=Q" + std::to_string(q) + "\r\n";
    std::string data(4096, 'd');
    for (int q = 0; q < kQueues; ++q) {
      std::string queue = "Q" + std::to_string(q);
      std::string dir = "C:\\LUM\\QUEUES\\" + queue;
      main += "[" + queue + "]\r\nqueuedir=" + dir + "\r\n";
      fs::path host = c / "LUM/QUEUES" / queue;
      WriteFile(host / "queue.ini",
                "[Settings]\r\nType=1\r\n[Bytes]\r\nInsertBytes=1B40\r\n[Margins]\r\nTop=1\r\n"
                "[Font]\r\nFaceName=Courier New\r\nHeight=-13\r\n");
      for (int j = 0; j < kJobsPerQueue; ++j) {
        std::string seqno = std::to_string(q * 1000 + j);
        std::string job = "[Settings]\r\nSeqno=" + seqno + "\r\nControlFileName=cfA" + seqno +
                          "\r\nUser=bench\r\nDataFiles=" + std::to_string(kDataFiles) +
                          "\r\n[Files]\r\n";
        for (int f = 1; f <= kDataFiles; ++f) {
          std::string name = "df" + std::string(1, static_cast<char>('A' + f - 1)) + seqno;
          job += "File" + std::to_string(f) + "=l" + name + "\r\nData" + std::to_string(f) + "=" +
                 dir + "\\" + name + "\r\n";
          WriteFile(host / name, data);
        }
        WriteFile(host / ("cf" + seqno + ".ini"), job);
      }
    }
    WriteFile(c / "LUM/lum.ini", main);
    fs::create_directories(c / "Setup");
    return root;
  }();
  return image;
}

void BM_ImportQueuesAndJobs(benchmark::State& state) {
  fs::path work = Installation().string() + "-run";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(work);
    fs::copy(Installation(), work, fs::copy_options::recursive);
    PortableOptions options;
    options.image = work;
    EnvPortable env(options);
    state.ResumeTiming();
    CCheckLUMDlg dlg(env);
    if (!dlg.RunWorkStep()) state.SkipWithError("the import did not end with OK");
    std::string error;
    env.SaveRegistry(&error);
  }
  state.counters["jobs"] = kQueues * kJobsPerQueue;
  state.counters["data files"] = kQueues * kJobsPerQueue * kDataFiles;
  fs::remove_all(work);
}
BENCHMARK(BM_ImportQueuesAndJobs)->Unit(benchmark::kMillisecond)->Iterations(3);

// Backup names for N control profiles of one queue that share a sequence
// number, so that all want one name: the time per name must not grow with N.
void BM_BackupNamesForOneWantedName(benchmark::State& state) {
  fs::path image = Installation().string() + "-names";
  fs::create_directories(image / "C" / "Setup" / "Backup");
  PortableOptions options;
  options.image = image;
  EnvPortable env(options);
  for (auto _ : state) {
    BackupNames names(env);
    names.Load("C:\\Setup\\Backup", "");
    for (int64_t i = 0; i < state.range(0); ++i) names.Take(names.Unused("Q1-1"));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  fs::remove_all(image);
}
BENCHMARK(BM_BackupNamesForOneWantedName)->Arg(1000)->Arg(8000)->Unit(benchmark::kMillisecond);

}  // namespace
