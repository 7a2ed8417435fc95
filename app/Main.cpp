// checklum: the Linux build. Runs the work step over an image, a folder that
// emulates one Windows machine, and saves the image's registry file; or
// undoes the runs recorded there (--restore), or shows what a run would do
// without changing the image (--dry-run).
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>

#include "app/CheckLUMDlg.h"
#include "app/RestoreImage.h"
#include "app/RunRecord.h"
#include "app/RunReport.h"
#include "import/ImportDriver.h"
#include "import/ProductKey.h"
#include "messages/Messages.h"
#include "platform/hive/HiveStore.h"
#include "platform/portable/EnvPortable.h"
#include "platform/portable/files/HostFile.h"
#include "platform/portable/text/Text.h"
#include "uninstall/UninstallHandOver.h"

namespace {

// The exit status. An import's is its RunOutcome: 0 OK, 1 declined, 2 not
// started (nothing changed), 3 not everything carried over; 4 when a report
// asked for could not be written. --restore's: 0 all restored, 1 nothing
// to restore, 2 nothing restored (the registry could not be undone, or the
// command could not start), 3 not every line carried out.
constexpr int kExitOk = 0;
constexpr int kExitNothing = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPartial = 3;
constexpr int kExitNoReport = 4;

int UsageError(const std::string& reason) {
  std::cerr << FormatTableString(kMsgCliUsageError, reason.c_str());
  return kExitUsage;
}

// "X:=FOLDER": a drive letter (made a capital) and the host folder for it.
bool ParseDrive(std::string_view text, char* letter, std::string* folder) {
  if (text.size() < 4 || text.substr(1, 2) != ":=") return false;
  char drive = static_cast<char>(text[0] & ~0x20);
  if (drive < 'A' || drive > 'Z') return false;
  *letter = drive;
  *folder = std::string(text.substr(3));
  return true;
}

// Checks the drives given with --drive against the image: each one a
// folder, none also a folder of the image. 0, or the exit status.
int CheckDrives(const PortableOptions& options) {
  namespace fs = std::filesystem;
  for (const auto& [letter, folder] : options.drives) {
    const std::string drive = std::string(1, letter) + ":";
    const fs::path inImage = options.image / std::string(1, letter);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
      std::cerr << FormatTableString(kMsgCliDriveNotAFolder, folder.c_str(), drive.c_str());
      return kExitUsage;
    }
    if (fs::exists(fs::symlink_status(inImage, ec))) {
      std::cerr << FormatTableString(kMsgCliDriveInImage, drive.c_str(), folder.c_str(),
                                     inImage.c_str());
      return kExitUsage;
    }
  }
  return kExitOk;
}

// The machine's SOFTWARE hive as the registry, or why it cannot be. The
// keys a run reads and writes are checked at once: the product key with
// all below it, and the uninstall entries.
std::shared_ptr<RegistryStore> OpenHive(const std::filesystem::path& hive, std::string* error) {
  HiveCheck check = HiveCheck::kRefused;
  std::string damaged;
  const std::vector<HiveReach> reach = {{kProductKeyPath, true}, {kUninstallKeyPath, false}};
  std::shared_ptr<HiveStore> store = HiveStore::Open(hive, reach, &check, &damaged);
  if (store) return store;
  if (check == HiveCheck::kDamagedKey) {
    *error = FormatTableString(kMsgCliHiveKeyDamaged, hive.c_str(), damaged.c_str());
    return nullptr;
  }
  static constexpr std::pair<HiveCheck, uint32_t> kMessages[] = {
      {HiveCheck::kUnreadable, kMsgCliHiveUnreadable},
      {HiveCheck::kNotAHive, kMsgCliHiveNotAHive},
      {HiveCheck::kUnsupported, kMsgCliHiveUnsupported},
      {HiveCheck::kDirty, kMsgCliHiveDirty},
      {HiveCheck::kDamaged, kMsgCliHiveDamaged},
  };
  uint32_t message = kMsgCliHiveRefused;
  for (const auto& [reason, text] : kMessages) {
    if (reason == check) message = text;
  }
  *error = FormatTableString(message, hive.c_str());
  return nullptr;
}

// Takes the options the image's record holds for those the user did not
// give; the exit status when the record cannot be read or one given
// contradicts it, else 0.
int ApplyRunRecord(const RunRecord::Given& given, PortableOptions* options, std::string* registry) {
  RunRecord record;
  std::string error;
  registry->clear();
  if (!RunRecord::Read(options->image, &record, &error)) {
    if (error.empty()) return kExitOk;
    std::cerr << FormatTableString(kMsgCliRegistryUnreadable, error.c_str());
    return kExitUsage;
  }
  record.ApplyTo(options, given);
  *registry = record.registry;
  std::string difference = record.Difference(RunRecord::Of(*options, record.registry));
  if (!difference.empty()) {
    std::cerr << FormatTableString(kMsgCliRecordContradicted, difference.c_str(),
                                   (options->image / RunRecord::kFileName).c_str());
    return kExitUsage;
  }
  return kExitOk;
}

// Writes the record of a run over `registry` into the image, the run under
// way; the exit status when it cannot, when the image's earlier runs
// changed another registry, or when the last of them did not finish.
int KeepRunRecord(const PortableOptions& options, const std::string& registry) {
  RunRecord earlier, now = RunRecord::Of(options, registry);
  now.unfinished = true;
  std::string error;
  if (RunRecord::Read(options.image, &earlier, &error)) {
    std::string difference = earlier.Difference(now);
    if (!difference.empty()) {
      std::cerr << FormatTableString(kMsgCliRecordContradicted, difference.c_str(),
                                     (options.image / RunRecord::kFileName).c_str());
      return kExitUsage;
    }
    if (earlier.unfinished) {
      std::cerr << FormatTableString(kMsgCliEarlierRunUnfinished, options.image.c_str());
      return kExitUsage;
    }
  }
  if (error.empty() && now.Write(options.image, &error)) return kExitOk;
  std::cerr << FormatTableString(kMsgCliRegistryUnreadable, error.c_str());
  return kExitUsage;
}

// Records that the image's last run finished: its registry holds what it
// did, or --restore undid it all.
void MarkRunFinished(const PortableOptions& options) {
  RunRecord record;
  std::string error;
  if (!RunRecord::Read(options.image, &record, &error) || !record.unfinished) return;
  record.unfinished = false;
  if (!record.Write(options.image, &error)) {
    std::cerr << FormatTableString(kMsgCliRegistryUnreadable, error.c_str());
  }
}

// --restore: both restore chains of the image's backup directory, the
// registry's undone in `registry` as recorded (empty: as the image holds it).
int Restore(EnvPortable& env, const PortableOptions& options, const std::string& registry) {
  size_t slash = options.programPath.rfind('\\');
  std::string setup = slash == std::string::npos ? "" : options.programPath.substr(0, slash + 1);
  std::string backup = BackupDirectory(setup);
  const bool undo = !RestoreChainNames(env, backup, "restore.reg").empty();
  if (!undo && RestoreChainNames(env, backup, "restore.bat").empty()) {
    std::cerr << FormatTableString(kMsgCliNothingToRestore, backup.c_str());
    MarkRunFinished(options);  // a run cut before its way back began changed nothing
    return kExitNothing;
  }
  // The undo files belong to the registry the runs changed, and it must be
  // there: another, or a new, empty one, would take changes meant for it.
  std::filesystem::path hive;
  std::string error;
  const std::filesystem::path file = options.image / RunRecord::kRegistryFile;
  std::error_code ec;
  const bool hasFile = std::filesystem::exists(std::filesystem::symlink_status(file, ec));
  if (!hasFile && !env.RegistryHive(&hive, &error)) {
    std::cerr << FormatTableString(kMsgCliRegistryUnreadable, error.c_str());
    return kExitUsage;
  }
  const std::string present = hasFile         ? RunRecord::kRegistryFile
                              : !hive.empty() ? RunRecord::kRegistryHive
                                              : "";
  if (undo && (present.empty() || (!registry.empty() && registry != present))) {
    std::string wanted = registry == RunRecord::kRegistryHive
                             ? options.windowsDirectory + "\\System32\\config\\SOFTWARE"
                             : file.string();
    if (registry.empty())
      wanted = file.string() + ", " + options.windowsDirectory + "\\System32\\config\\SOFTWARE";
    std::cerr << FormatTableString(kMsgCliRegistryGone, wanted.c_str());
    return kExitUsage;
  }
  RestoreOutcome outcome = RestoreImage(env, backup, std::cerr);
  std::cout << FormatTableString(
      kMsgCliRestoreSummary, FormatCount(outcome.copied, kCountFile, kCountFiles).c_str(),
      FormatCount(outcome.scripts, kCountScript, kCountScripts).c_str(),
      FormatCount(outcome.registryFiles, kCountUndoFile, kCountUndoFiles).c_str(),
      FormatCount(outcome.absent, kCountLine, kCountLines).c_str(),
      FormatCount(outcome.failed, kCountLine, kCountLines).c_str());
  if (!outcome.registryRestored) return kExitUsage;
  if (outcome.failed > 0) {
    std::cout << FormatTableString(kMsgCliRestoreFinishLater);
    return kExitPartial;
  }
  MarkRunFinished(options);
  return kExitOk;
}

// What a run did, on the console: the summary, what the hand-over did, a
// registry that could not be saved (`failure`), a log that lacks lines,
// and how the run ended, with how to undo it where it did not carry
// everything over (`image`; empty for the dry run, which changed nothing).
void TellRun(EnvPortable& env, const CCheckLUMDlg& dlg, RunOutcome outcome,
             const std::string& failure, const std::filesystem::path& image) {
  const ImportRun& run = dlg.run;
  const int moved = run.restoreScript.FilesBackedUp();
  std::string spool, backup;  // as the user would write them
  env.FullPathName(
      run.spoolDirectory.empty() ? run.setupDirectory + "\\Spool\\" : run.spoolDirectory, &spool);
  env.FullPathName(BackupDirectory(run.setupDirectory), &backup);
  std::cout << FormatTableString(
      kMsgCliSummary, FormatCount(run.counts.queues, kCountQueue, kCountQueues).c_str(),
      FormatCount(run.counts.jobs, kCountJob, kCountJobs).c_str(),
      FormatCount(run.counts.dataFiles, kCountDataFile, kCountDataFiles).c_str(), spool.c_str(),
      FormatCount(moved, kCountFile, kCountFiles).c_str(), backup.c_str());
  static constexpr std::pair<HandOver, uint32_t> kHandOverSaid[] = {
      {HandOver::kDone, kMsgCliHandedOver},
      {HandOver::kDoneEarlier, kMsgCliHandedOverEarlier},
      {HandOver::kNoUninstaller, kMsgCliNoUninstaller},
      {HandOver::kRegistryFailed, kMsgCliHandOverFailed},
  };
  for (const auto& [what, said] : kHandOverSaid) {
    if (dlg.HandOverResult() == what) std::cout << FormatTableString(said);
  }
  if (!failure.empty()) {
    std::cerr << FormatTableString(
        moved > 0 ? kMsgCliRegistryNotSavedAfterMoves : kMsgCliRegistryNotSaved, failure.c_str(),
        backup.c_str());
  }
  if (!dlg.log.Complete()) std::cerr << FormatTableString(kMsgCliLogIncomplete, backup.c_str());
  static constexpr std::pair<RunOutcome, uint32_t> kFinished[] = {
      {RunOutcome::kOk, kMsgCliFinishedOk},
      {RunOutcome::kDeclined, kMsgCliFinishedDeclined},
      {RunOutcome::kNotStarted, kMsgCliFinishedNotStarted},
      {RunOutcome::kIncomplete, kMsgCliFinishedIncomplete},
  };
  for (const auto& [what, said] : kFinished) {
    if (outcome != what) continue;
    const bool dryIncomplete = image.empty() && outcome == RunOutcome::kIncomplete;
    std::cout << FormatTableString(dryIncomplete ? kMsgCliDryRunIncomplete : said, image.c_str());
  }
}

// The import over `options.image`. In the dry run every line of the run
// log is printed as it comes; with `report`, its events go there.
int Import(const PortableOptions& options, bool dryRun, RunReport* report) {
  EnvPortable env(options);
  std::filesystem::path busy;
  if (!env.LockImage(&busy)) {
    std::cerr << FormatTableString(kMsgCliImageInUse, busy.c_str());
    return kExitUsage;
  }
  std::string error;
  if (!env.LoadRegistry(&error)) {
    std::cerr << FormatTableString(kMsgCliRegistryUnreadable, error.c_str());
    return kExitUsage;
  }
  // Files move during the run and the registry is saved at its end: make
  // sure before anything moves that the save can happen.
  if (uint32_t code = env.CheckRegistryWritable(); code != 0) {
    std::string reason;
    GetSystemErrorText(env, reason, code);
    std::string file =
        (env.LoadedHive().empty() ? options.image / "HKLM.reg" : env.LoadedHive()).string();
    std::cerr << FormatTableString(kMsgCliRegistryNotWritable, file.c_str(), reason.c_str());
    return kExitUsage;
  }
  // How this run runs, before it changes anything: --restore undoes it so.
  if (int status = KeepRunRecord(
          options, env.LoadedHive().empty() ? RunRecord::kRegistryFile : RunRecord::kRegistryHive);
      status != kExitOk) {
    return status;
  }

  CCheckLUMDlg dlg(env);
  dlg.log.SetObserver([&](const RunEvent& event) {
    if (dryRun) std::cout << event.line << "\n";
    if (report) report->Add(event);
  });
  // A machine without a registry of its own gets a new one: said before
  // the run, not found out afterwards.
  std::error_code ec;
  if (env.LoadedHive().empty() &&
      !std::filesystem::exists(std::filesystem::symlink_status(options.image / "HKLM.reg", ec))) {
    std::cout << FormatTableString(kMsgCliNewRegistry, (options.image / "HKLM.reg").c_str());
    dlg.log.Note(kLogNewRegistry);
  }
  dlg.RunWork();
  env.EndProgress();
  // The result is known once the registry is saved: the log's result line
  // and the report come after the save, and say what it did.
  const ImportRun& run = dlg.run;
  const int moved = run.restoreScript.FilesBackedUp();
  std::string failure;
  if (!env.SaveRegistry(&error)) failure = error.empty() ? "?" : error;
  dlg.FinishLog(failure);
  RunOutcome outcome = dlg.Outcome();
  if (!failure.empty()) {
    outcome = dlg.log.Changes() > 0 ? RunOutcome::kIncomplete : RunOutcome::kNotStarted;
  }
  // A run whose registry holds all its changes is finished, whatever its
  // outcome; one whose moved files the registry does not hold is not.
  if (failure.empty()) MarkRunFinished(options);

  TellRun(env, dlg, outcome, failure, dryRun ? std::filesystem::path() : options.image);
  int status = static_cast<int>(outcome);
  if (report && !report->Finish(outcome, run.counts, moved)) {
    std::cerr << FormatTableString(kMsgCliReportNotWritten);
    // A report asked for and not written fails the command; a run that
    // needs the user's attention anyway keeps its own status.
    if (outcome == RunOutcome::kOk || outcome == RunOutcome::kDeclined) status = kExitNoReport;
  }
  return status;
}

// The dry run's scratch folder: made new by mkdtemp (mode 0700, so that
// nobody else can plant anything in it or read the copy), and removed when
// the run ends however it ends. A helper process waits for this one to go
// and then removes the folder, so that a Ctrl-C, a SIGTERM or a hang-up
// does not leave a copy of the image behind.
class Scratch {
 public:
  // False, with the reason, when no folder can be made.
  bool Make(std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path temporary = fs::temp_directory_path(ec);
    if (ec) {
      const char* named = std::getenv("TMPDIR");
      *error = "the temporary folder " + std::string(named ? named : "") + ": " + ec.message();
      return false;
    }
    // A signal that ended the program before the helper stood ready would
    // leave the folder behind: they wait until then.
    sigset_t ending, before;
    sigemptyset(&ending);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&ending, signal);
    sigprocmask(SIG_BLOCK, &ending, &before);
    struct Unblock {
      const sigset_t* mask;
      ~Unblock() { sigprocmask(SIG_SETMASK, mask, nullptr); }
    } unblock{&before};
    std::string pattern = (temporary / "checklum-dry-run-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      *error = temporary.string() + ": " + std::strerror(errno);
      return false;
    }
    folder_ = pattern;
    int ends[2];
    if (pipe(ends) != 0) return true;  // removed at the end as usual
    pid_t helper = fork();
    if (helper == 0) {
      // Signals from the terminal reach the whole group: this one stays.
      for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(signal, SIG_IGN);
      sigprocmask(SIG_SETMASK, &before, nullptr);
      close(ends[1]);
      char byte;
      while (read(ends[0], &byte, 1) != 0 && errno == EINTR) {
      }
      fs::remove_all(folder_, ec);
      _exit(0);
    }
    close(ends[0]);
    if (helper > 0) {
      helper_ = helper;
      watch_ = ends[1];
    } else {
      close(ends[1]);
    }
    return true;
  }
  const std::filesystem::path& Folder() const { return folder_; }
  ~Scratch() {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
    if (watch_ >= 0) close(watch_);
    if (helper_ > 0) waitpid(helper_, nullptr, 0);
  }

 private:
  std::filesystem::path folder_;
  int watch_ = -1;
  pid_t helper_ = -1;
};

// --dry-run: the import on a scratch copy of the image, its log printed;
// the image itself is only read, and held against other runs meanwhile.
int DryRun(PortableOptions options, RunReport* report) {
  EnvPortable image(options);
  if (!image.LockImage()) {
    std::cerr << FormatTableString(kMsgCliImageInUse, options.image.c_str());
    return kExitUsage;
  }
  namespace fs = std::filesystem;
  Scratch scratchFolder;
  std::string reason;
  if (!scratchFolder.Make(&reason)) {
    std::cerr << FormatTableString(kMsgCliDryRunNoCopy, reason.c_str());
    return kExitUsage;
  }
  const fs::path scratch = scratchFolder.Folder() / "image";
  if (!CopyHostTree(options.image, scratch, &reason)) {
    std::cerr << FormatTableString(kMsgCliDryRunNoCopy, reason.c_str());
    return kExitUsage;
  }
  fs::path original = options.image;
  options.image = scratch;
  options.progress = nullptr;  // the log lines say it all
  options.messages = nullptr;
  int status = Import(options, true, report);
  std::cout << FormatTableString(kMsgCliDryRunDone, original.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  PortableOptions options;
  options.openHive = OpenHive;
  RunRecord::Given given;
  std::string image, reportFile;
  bool restore = false, dryRun = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << FormatTableString(kMsgCliUsage);
      return kExitOk;
    }
    if (arg == "--version") {
      std::cout << FormatTableString(kMsgCliVersion, CHECKLUM_VERSION);
      return kExitOk;
    }
    if (arg == "--windows-dir" || arg == "--program") {
      if (i + 1 >= argc) return UsageError(FormatTableString(kMsgCliNeedsWindowsPath, arg.c_str()));
      (arg == "--windows-dir" ? options.windowsDirectory : options.programPath) = argv[++i];
      (arg == "--windows-dir" ? given.windowsDirectory : given.programPath) = true;
      continue;
    }
    if (arg == "--drive") {
      char letter = 0;
      std::string folder;
      if (i + 1 >= argc || !ParseDrive(argv[++i], &letter, &folder)) {
        return UsageError(FormatTableString(kMsgCliNeedsDrive, arg.c_str()));
      }
      given.drives = true;
      if (!options.drives.emplace(letter, std::filesystem::absolute(folder)).second) {
        return UsageError(
            FormatTableString(kMsgCliDriveTwice, (std::string(1, letter) + ":").c_str()));
      }
      continue;
    }
    if (arg == "--oem-code-page") {
      // Only a code page the emulated machine knows: with another, restore.bat
      // could name no file, and nothing would move.
      std::string_view value = i + 1 < argc ? argv[++i] : "";
      uint32_t codePage = 0;
      auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), codePage);
      if (error != std::errc() || end != value.data() + value.size() || !IsOemCodePage(codePage)) {
        return UsageError(FormatTableString(kMsgCliNeedsOemCodePage, arg.c_str()));
      }
      options.oemCodePage = codePage;
      given.oemCodePage = true;
      continue;
    }
    if (arg == "--report") {
      if (i + 1 >= argc) return UsageError(FormatTableString(kMsgCliNeedsFile, arg.c_str()));
      reportFile = argv[++i];
      continue;
    }
    if (arg == "--restore" || arg == "--dry-run") {
      (arg == "--restore" ? restore : dryRun) = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(FormatTableString(kMsgCliUnknownOption, arg.c_str()));
    }
    if (!image.empty()) return UsageError(FormatTableString(kMsgCliOneImage));
    image = arg;
  }
  if (image.empty()) return UsageError(FormatTableString(kMsgCliNoImage));
  if (restore && (dryRun || !reportFile.empty())) {
    return UsageError(FormatTableString(kMsgCliRestoreAlone));
  }
  if (dryRun && !options.drives.empty())
    return UsageError(FormatTableString(kMsgCliDryRunWithDrive));

  std::error_code ec;
  if (!std::filesystem::is_directory(image, ec)) {
    std::cerr << FormatTableString(kMsgCliNotAnImage, image.c_str(), image.c_str());
    return kExitUsage;
  }
  options.image = image;
  std::string recordedRegistry;
  if (int status = ApplyRunRecord(given, &options, &recordedRegistry); status != kExitOk) {
    return status;
  }
  if (int status = CheckDrives(options); status != kExitOk) return status;
  options.progress = &std::cout;
  options.messages = &std::cerr;
  options.caption = FormatTableString(kMsgProgramName);
  options.strings = FindTableString;

  if (restore) {
    EnvPortable env(options);
    std::filesystem::path busy;
    if (!env.LockImage(&busy)) {
      std::cerr << FormatTableString(kMsgCliImageInUse, busy.c_str());
      return kExitUsage;
    }
    std::string error;
    if (!env.RegistryFileUsable(&error)) {
      std::cerr << FormatTableString(kMsgCliRegistryUnreadable, error.c_str());
      return kExitUsage;
    }
    return Restore(env, options, recordedRegistry);
  }
  RunReport report;
  if (!reportFile.empty() && !report.Open(reportFile)) {
    std::cerr << FormatTableString(kMsgCliReportNotWritten);
    return kExitUsage;
  }
  RunReport* reporting = reportFile.empty() ? nullptr : &report;
  return dryRun ? DryRun(options, reporting) : Import(options, false, reporting);
}
