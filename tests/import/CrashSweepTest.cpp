// The crash sweep: a representative old installation is imported with the
// run stopped dead at operation k (as by a power cut: nothing after k
// happens, and whatever was not yet made durable is lost: lines not synced,
// copies not flushed), and
// with every operation from k on failing (as on a disk that stays full).
// For every k:
//  (a) every INI file of the old installation is in its place, or in the
//      backup directory byte for byte with a line that brings it back;
//  (b) the restore chain restores the old installation exactly (run as
//      checklum --restore runs it, with the registry undo chain);
//  (c) running the program again completes or declines cleanly, and the
//      chain still restores everything;
//  (d) the registry as the stop left it, every change up to k made (as the
//      Windows registry holds changes at once, where this emulation saves
//      only at the end), with the undo chain applied is the registry of
//      before the run, and so is the registry after a second run.
// CI sweeps every seventh k; CHECKLUM_SWEEP=full sweeps every one
// (scripts/crash-sweep).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "app/CheckLUMDlg.h"
#include "app/RestoreImage.h"
#include "platform/testing/FaultInjectionEnv.h"
#include "support/Installations.h"
#include "support/Scenario.h"

namespace fs = std::filesystem;

namespace {

const char* const kBackup = "C:\\Setup\\Backup";

// The representative installation on drive C:, its uninstall entry in the
// registry as the old release left it.
void WriteRepresentative(Scenario& s) {
  const Installation& representative = RepresentativeInstallation();
  for (const auto& [relative, content] : representative.files) {
    s.Write("C:\\" + relative, WithRoot(content, "C:"));
  }
  for (const UninstallEntry& entry : representative.uninstallEntries) {
    std::string path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + entry.name;
    s.CreateKey(path);
    RegKey key = 0;
    s.env().OpenKey(kHKeyLocalMachine, path.c_str(), &key);
    s.env().SetValue(key, "UninstallString", kRegSz,
                     reinterpret_cast<const uint8_t*>(entry.command.c_str()),
                     static_cast<uint32_t>(entry.command.size() + 1));
    s.env().CloseKey(key);
  }
  s.Reset();
}

enum class Fault { kStop, kDiskFull };

// One run with the fault at operation k; true when the fault was reached.
bool RunWithFault(Scenario& s, Fault fault, long k) {
  FaultInjectionEnv faulty(s.env());
  if (fault == Fault::kStop) {
    faulty.StopAt(k);
  } else {
    faulty.FailFrom(k);
  }
  {
    CCheckLUMDlg dlg(faulty);
    dlg.RunWorkStep();
  }
  // What never reached the disk is lost with the power: lines not synced,
  // and copies not flushed (a new one is gone, a replaced one left empty).
  if (fault == Fault::kStop) {
    for (const auto& [path, size] : faulty.Unsynced()) {
      fs::resize_file(s.env().HostPath(path), size);
    }
    for (const auto& [path, replaced] : faulty.Unflushed()) {
      fs::path host = s.env().HostPath(path);
      replaced ? fs::resize_file(host, 0) : void(fs::remove(host));
    }
  }
  // The registry as Windows would hold it at the stop, for (d), kept beside
  // the image. The registry file itself is saved only at the end of a run,
  // which a stopped run never reaches and a full disk refuses.
  fs::path registry = s.root / "HKLM.reg";
  fs::path kept = s.root / "before.reg";
  fs::copy_file(registry, kept);
  s.Reset();
  fs::rename(registry, s.root / "at-stop.reg");
  fs::rename(kept, registry);
  return faulty.OperationCount() > k;
}

long CleanRunOperations() {
  Scenario s;
  WriteRepresentative(s);
  FaultInjectionEnv counting(s.env());
  CCheckLUMDlg dlg(counting);
  EXPECT_TRUE(dlg.RunWorkStep());
  return counting.OperationCount();
}

class CrashSweep : public testing::TestWithParam<Fault> {};

TEST_P(CrashSweep, NoStopPointLosesAFileOrTheWayBack) {
  const long operations = CleanRunOperations();
  ASSERT_GT(operations, 200);
  const char* mode = std::getenv("CHECKLUM_SWEEP");
#ifdef _WIN32
  // The Windows build sweeps the real services (CrashSweepWin32Test); this
  // emulation, slow on a Windows host, is only looked at.
  const long sampled = 49;
#else
  const long sampled = 7;
#endif
  const long step = mode != nullptr && std::string(mode) == "full" ? 1 : sampled;
  long covered = 0;
  for (long k = 0; k <= operations; k += step) {
    SCOPED_TRACE("stop point " + std::to_string(k));
    Scenario s;
    WriteRepresentative(s);
    const auto before = OldFiles(s);
    const std::string registryBefore = RegistryContents(s.root / "HKLM.reg");
    RunWithFault(s, GetParam(), k);
    ExpectNothingLost(s, before);
    ApplyUndoChain(s, kBackup, s.root / "at-stop.reg");
    EXPECT_EQ(RegistryContents(s.root / "at-stop.reg"), registryBefore) << "after the undo chain";

    // (c) on a copy of the machine as the fault left it.
    Scenario again;
    fs::remove_all(again.root);
    fs::copy(s.root, again.root, fs::copy_options::recursive);
    {
      CCheckLUMDlg dlg(again.env());
      dlg.RunWorkStep();
    }
    again.Reset();
    ApplyUndoChain(again, kBackup, again.root / "HKLM.reg");
    EXPECT_EQ(RegistryContents(again.root / "HKLM.reg"), registryBefore)
        << "after a second run and the undo chain";
    EXPECT_TRUE(RunRestoreChain(again, kBackup));
    EXPECT_EQ(OldFiles(again), before) << "after a second run and the restore chain";

    // (b) the chains on the machine as the fault left it, as --restore runs
    // them.
    std::ostringstream refused;
    RestoreImage(s.env(), kBackup, refused);
    s.Discard();
    EXPECT_EQ(OldFiles(s), before) << "after the restore chain";
    EXPECT_EQ(RegistryContents(s.root / "HKLM.reg"), registryBefore) << "after --restore";
    EXPECT_EQ(refused.str().find("not a copy line"), std::string::npos) << refused.str();
    ++covered;
    if (HasFailure()) break;
  }
  std::printf("crash sweep: %ld of %ld stop points covered\n", covered, operations + 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, CrashSweep, testing::Values(Fault::kStop, Fault::kDiskFull),
                         [](const testing::TestParamInfo<Fault>& info) {
                           return info.param == Fault::kStop ? "PowerCut" : "DiskFull";
                         });

}  // namespace
