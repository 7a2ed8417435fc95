// The crash sweep on the real Windows services, for a sample of stop points:
// the representative installation imported through Wine's file system and
// registry with the run stopped dead at operation k, or with every
// operation from k on failing; Wine's own cmd then runs the restore chain,
// after the stopped run and after a second, undisturbed run, and Wine's own
// `reg import` applies the registry undo chain: the registry holds every
// change up to the stop, as Windows does, and must come back as it was.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/CheckLUMDlg.h"
#include "platform/testing/FaultInjectionEnv.h"
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

long Operations() {
  WindowsMachine machine("CSW");
  machine.Install(RepresentativeInstallation());
  FaultInjectionEnv counting(machine.env);
  CCheckLUMDlg dlg(counting);
  EXPECT_TRUE(dlg.RunWorkStep());
  return counting.OperationCount();
}

// One run with the fault at operation k, on a fresh machine; then, when
// `again`, an undisturbed run; then the restore chain.
void Sweep(bool stop, long k, bool again) {
  WindowsMachine machine("CSW");
  machine.Install(RepresentativeInstallation());
  const Tree before = OldFiles(machine);
  const std::string registry = machine.Registry();
  {
    FaultInjectionEnv faulty(machine.env);
    stop ? faulty.StopAt(k) : faulty.FailFrom(k);
    {
      CCheckLUMDlg dlg(faulty);
      dlg.RunWorkStep();
    }
    if (stop) {
      for (const auto& [path, size] : faulty.Unsynced()) fs::resize_file(path, size);
      for (const auto& [path, replaced] : faulty.Unflushed()) {
        replaced ? fs::resize_file(path, 0) : void(fs::remove(path));
      }
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
  const long operations = Operations();
  ASSERT_GT(operations, 200);
  int covered = 0;
  for (bool stop : {true, false}) {
    for (int i = 0; i < kSamples; ++i) {
      long k = operations * i / (kSamples - 1);
      for (bool again : {false, true}) {
        SCOPED_TRACE(std::string(stop ? "power cut" : "full disk") + " at operation " +
                     std::to_string(k) + (again ? ", then a second run" : ""));
        Sweep(stop, k, again);
      }
      ++covered;
    }
  }
  std::printf("crash sweep under Wine: %d stop points of %ld covered\n", covered, operations + 1);
}

}  // namespace
