// The crash sweep on the real Windows services, for a sample of stop points:
// the representative installation imported through Wine's file system and
// registry with the run stopped dead at operation k, the disk then left as
// a power cut may leave it (platform/testing/PowerCut.h: the extremes and a
// sampled state), or with every operation from k on failing. Wine's own cmd
// then runs the restore chain, after the stopped run and after a second,
// undisturbed run, and Wine's own `reg import` applies the registry undo
// chain: the registry holds every change up to the stop, as Windows does,
// and must come back as it was.
//
// The sampled states keep or lose each unflushed write whole: cmd runs the
// last line of a script even when a power cut tore it, and such a line may
// copy to a path that is a prefix of its own (--restore passes it over;
// the native sweep tears writes too).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "app/CheckLUMDlg.h"
#include "platform/testing/FaultInjectionEnv.h"
#include "platform/testing/PowerCut.h"
#include "support/Installations.h"
#include "support/WindowsMachine.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSamples = 6;  // stop points per kind of fault

// The files of the old installation: everything but the import's own.
Tree OldFiles(const WindowsMachine& machine) {
  Tree files;
  for (auto& [path, content] : machine.Read()) {
    if (path.rfind("Setup\\Backup\\", 0) != 0 && path.rfind("Setup\\Spool\\", 0) != 0) {
      files[path] = std::move(content);
    }
  }
  return files;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Apply(const PowerCut::State& state) {
  std::error_code ec;
  for (const auto& [path, content] : state.files) {
    if (!content) {
      fs::remove(path, ec);
      continue;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << *content;
  }
  for (const std::string& folder : state.lostFolders) fs::remove_all(folder, ec);
}

// The stop points: evenly spread, each moved on to the next operation at
// which something is made durable, where the order of durability counts.
std::vector<long> StopPoints() {
  WindowsMachine machine("CSW");
  machine.Install(RepresentativeInstallation());
  FaultInjectionEnv counting(machine.env);
  CCheckLUMDlg dlg(counting);
  EXPECT_TRUE(dlg.RunWorkStep());
  const std::vector<const char*>& operations = counting.Operations();
  std::vector<long> points;
  for (int i = 0; i < kSamples; ++i) {
    size_t k = operations.size() * i / (kSamples - 1);
    while (k < operations.size() && std::string(operations[k]) != "FlushFiles" &&
           std::string(operations[k]) != "Sync") {
      ++k;
    }
    points.push_back(static_cast<long>(k));
  }
  return points;
}

enum class Fault { kPowerCutLost, kPowerCutKept, kPowerCutSampled, kDiskFull };

const char* Name(Fault fault) {
  switch (fault) {
    case Fault::kPowerCutLost:
      return "power cut, everything unflushed lost";
    case Fault::kPowerCutKept:
      return "power cut, everything unflushed kept";
    case Fault::kPowerCutSampled:
      return "power cut, a sampled state";
    default:
      return "full disk";
  }
}

// One run with the fault at operation k, on a fresh machine; then, when
// `again`, an undisturbed run; then the restore chain.
void Sweep(Fault fault, long k, bool again) {
  WindowsMachine machine("CSW");
  machine.Install(RepresentativeInstallation());
  const Tree before = OldFiles(machine);
  const std::string registry = machine.Registry();
  {
    PowerCut cut(ReadFile);
    FaultInjectionEnv faulty(machine.env);
    fault == Fault::kDiskFull ? faulty.FailFrom(k) : faulty.StopAt(k);
    faulty.RecordOn(&cut);
    {
      CCheckLUMDlg dlg(faulty);
      dlg.RunWorkStep();
    }
    if (fault != Fault::kDiskFull) {
      std::mt19937 random(static_cast<unsigned>(k));
      PowerCut::Choice choice = fault == Fault::kPowerCutLost   ? cut.EverythingLost()
                                : fault == Fault::kPowerCutKept ? cut.EverythingKept()
                                                                : cut.Sample(random, false);
      SCOPED_TRACE(cut.Describe(choice));
      Apply(cut.After(choice));
    }
  }
  if (again) {
    CCheckLUMDlg dlg(machine.env);
    dlg.RunWorkStep();
  }
  machine.RunRestoreChain();
  EXPECT_EQ(OldFiles(machine), before);
  machine.ImportUndoChain();
  EXPECT_EQ(machine.Registry(), registry);
}

TEST(CrashSweepWin32, SampledStopPointsLoseNothingAndCmdRestoresAll) {
  const std::vector<long> points = StopPoints();
  int states = 0;
  for (Fault fault :
       {Fault::kPowerCutLost, Fault::kPowerCutKept, Fault::kPowerCutSampled, Fault::kDiskFull}) {
    for (long k : points) {
      for (bool again : {false, true}) {
        SCOPED_TRACE(std::string(Name(fault)) + " at operation " + std::to_string(k) +
                     (again ? ", then a second run" : ""));
        Sweep(fault, k, again);
        ++states;
      }
    }
  }
  std::printf("crash sweep under Wine: %zu stop points, %d states checked by cmd\n", points.size(),
              states);
}

}  // namespace
