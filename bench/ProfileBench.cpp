// The profile service's cache at work: reading a whole section of 1,000 keys
// (the key-name list, then one read per key, as CIni::ReadSection does) and
// 1,000 single reads spread over one profile, each with the cached service
// and with a naive one that reads and parses the file for every call.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/portable/profile/ProfileService.h"

namespace fs = std::filesystem;

namespace {

// A profile of 20 sections: "Big" with 1,000 keys, the others with 50 each.
const fs::path& ProfileFile() {
  static const fs::path file = [] {
    fs::path dir = fs::temp_directory_path() / ("profile-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream out(dir / "bench.ini", std::ios::binary);
    for (int s = 0; s < 19; ++s) {
      out << "[Section" << s << "]\r\n";
      for (int k = 0; k < 50; ++k) out << "Key" << k << " = value " << s << "-" << k << "\r\n";
    }
    out << "[Big]\r\n";
    for (int k = 0; k < 1000; ++k) out << "Name" << k << "=\"some value " << k << "\"\r\n";
    out.close();
    // A file written a moment ago is checked against its content on every
    // call (its time may not move yet when it changes); measure the usual
    // case of an older file.
    fs::last_write_time(dir / "bench.ini",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));
    return dir / "bench.ini";
  }();
  return file;
}

// One call of the chosen service: the shared cached one, or a new one each
// time, which reads and parses the file again.
template <bool kNaive>
uint32_t Read(ProfileService& shared, const char* section, const char* key, char* buffer,
              uint32_t size) {
  uint32_t error = 0;
  if (!kNaive) return shared.ReadString(section, key, "", buffer, size, ProfileFile(), &error);
  ProfileService fresh;
  return fresh.ReadString(section, key, "", buffer, size, ProfileFile(), &error);
}

template <bool kNaive>
void BM_ReadSection1000(benchmark::State& state) {
  ProfileService service;
  std::vector<char> list(1 << 16), value(4096);
  for (auto _ : state) {
    uint32_t length = Read<kNaive>(service, "Big", nullptr, list.data(), list.size());
    size_t keys = 0;
    for (uint32_t pos = 0; pos < length && list[pos] != '\0';) {
      std::string name(list.data() + pos);
      benchmark::DoNotOptimize(Read<kNaive>(service, "Big", name.c_str(), value.data(), 4096));
      pos += static_cast<uint32_t>(name.size()) + 1;
      ++keys;
    }
    if (keys != 1000) state.SkipWithError("wrong key count");
  }
  state.counters["parses"] =
      benchmark::Counter(static_cast<double>(service.parses()), benchmark::Counter::kAvgIterations);
}

template <bool kNaive>
void BM_ReadString1000(benchmark::State& state) {
  ProfileService service;
  std::vector<std::string> sections, keys;
  for (int i = 0; i < 1000; ++i) {
    sections.push_back(i % 5 == 0 ? "Big" : "section" + std::to_string(i % 19));
    keys.push_back(i % 5 == 0 ? "name" + std::to_string(i) : "KEY" + std::to_string(i % 50));
  }
  std::vector<char> value(4096);
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      if (Read<kNaive>(service, sections[i].c_str(), keys[i].c_str(), value.data(), 4096) == 0) {
        state.SkipWithError("value missing");
      }
    }
  }
}

BENCHMARK(BM_ReadSection1000<false>)->Name("ReadSection1000/cached")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSection1000<true>)->Name("ReadSection1000/naive")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadString1000<false>)->Name("ReadString1000/cached")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadString1000<true>)->Name("ReadString1000/naive")->Unit(benchmark::kMillisecond);

}  // namespace
