// Profiles far beyond the usual size, read the way the import reads them:
// a [Settings] section of 40,000 to 160,000 keys through CIni::ReadSection,
// and one control profile of about 14 MB named by 200 [CurrentJobs] lines,
// each read through the Linux program's Env. Reading a section must grow
// linearly with its keys, and a profile must be parsed once, whatever its
// size.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "import/GeneralSettings.h"
#include "platform/portable/EnvPortable.h"
#include "profile/Ini.h"

namespace fs = std::filesystem;

namespace {

fs::path Image(const std::string& name) {
  fs::path image = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
  fs::create_directories(image / "C" / "OLD");
  fs::create_directories(image / "C" / "WINDOWS");
  return image;
}

// Written an hour ago, as an old installation's files are: a file written a
// moment ago is checked against its content on every read.
void Age(const fs::path& file) {
  fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
}

void BM_ReadLargeSection(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  fs::path image = Image("large-section");
  {
    std::ofstream out(image / "C/OLD/lum.ini", std::ios::binary);
    out << "[Settings]\r\n";
    for (int k = 0; k < keys; ++k) out << "Key" << k << "=value " << k << "\r\n";
  }
  Age(image / "C/OLD/lum.ini");
  PortableOptions options;
  options.image = image;
  EnvPortable env(options);
  CIni profile(env, "C:\\OLD\\lum.ini");
  for (auto _ : state) {
    SectionMap section;
    if (profile.ReadSection("Settings", section) != keys) state.SkipWithError("keys missing");
  }
  state.SetComplexityN(keys);
  fs::remove_all(image);
}
BENCHMARK(BM_ReadLargeSection)
    ->Arg(40000)
    ->Arg(80000)
    ->Arg(160000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Complexity();

// The current-jobs import over a main profile whose [CurrentJobs] names one
// 14 MB control profile 200 times.
void BM_LargeControlProfile(benchmark::State& state) {
  fs::path image = Image("large-control");
  {
    std::ofstream out(image / "C/OLD/cf1.ini", std::ios::binary);
    out << "[Settings]\r\nControlFileName=J1\r\n[Padding]\r\n";
    for (int k = 0; out.tellp() < (14 << 20); ++k) {
      out << "Line" << k << "=" << std::string(100, 'x') << "\r\n";
    }
  }
  {
    std::ofstream out(image / "C/OLD/lum.ini", std::ios::binary);
    out << "[CurrentJobs]\r\n";
    for (int j = 0; j < 200; ++j) out << "C:\\OLD\\cf1.ini=1\r\n";  // the key list keeps repeats
  }
  Age(image / "C/OLD/cf1.ini");
  Age(image / "C/OLD/lum.ini");
  PortableOptions options;
  options.image = image;
  for (auto _ : state) {
    EnvPortable env(options);
    CIni mainProfile(env, "C:\\OLD\\lum.ini");
    RegKey product = 0;
    env.CreateKey(kHKeyLocalMachine, "SOFTWARE\\Tandrel\\LUM", &product, nullptr);
    ImportCurrentJobs(env, mainProfile, product);
  }
  fs::remove_all(image);
}
BENCHMARK(BM_LargeControlProfile)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
