#include "import/JobImport.h"

#include <algorithm>
#include <charconv>

#include "import/RestoreLines.h"
#include "import/SectionWriter.h"
#include "messages/Messages.h"
#include "platform/WinError.h"
#include "profile/Ini.h"

namespace {

void Report(ImportRun& run, uint32_t id, const std::string& a, const std::string& b = "") {
  std::string text;
  AppendTableMessage(run.env, text, id, a.c_str(), b.c_str());
  run.env.ShowMessage(text, kMbOk);
}

std::string Numbered(const char* name, int number) {
  return name + std::to_string(number);
}

// The highest j for which the map holds "File<j>", so that a DataFiles
// count far beyond the listed files costs nothing.
int LastListedFile(const SectionMap& files) {
  int last = 0;
  for (auto it = files.lower_bound("File1"); it != files.end() && it->first.starts_with("File");
       ++it) {
    std::string_view digits = std::string_view(it->first).substr(4);
    int number = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error == std::errc() && end == digits.data() + digits.size() && digits[0] != '0') {
      last = std::max(last, number);
    }
  }
  return last;
}

// Whether the files `a` and `b` hold the same bytes; false when either
// cannot be read.
bool SameBytes(Env& env, const std::string& a, const std::string& b) {
  std::unique_ptr<ReadableFile> first = env.OpenReadable(a), second = env.OpenReadable(b);
  if (!first || !second) return false;
  std::string x(1 << 16, '\0'), y(1 << 16, '\0');
  for (;;) {
    uint32_t gotX = 0, gotY = 0;
    if (!first->Read(x.data(), static_cast<uint32_t>(x.size()), &gotX)) return false;
    // A file may come in pieces of other sizes: read the other as far.
    for (uint32_t at = 0, got = 0; at < gotX; at += got) {
      if (!second->Read(y.data() + at, gotX - at, &got) || got == 0) return false;
    }
    if (gotX == 0) return second->Read(y.data(), 1, &gotY) && gotY == 0;
    if (x.compare(0, gotX, y, 0, gotX) != 0) return false;
  }
}

// Copies data file number j into the spool directory and points the job at
// the copy. A data file that cannot be copied keeps its old path in the job.
void SpoolDataFile(ImportRun& run, const std::string& profilePath, const SectionMap& files, int j,
                   SectionMap& job) {
  auto entry = [&](const std::string& key) {
    auto it = files.find(key);
    return it == files.end() ? std::string() : it->second;
  };
  std::string listed = entry(Numbered("File", j));  // a file code, then the name
  if (listed.size() < 2) return;
  std::string name = listed.substr(1);
  std::string source = entry(name);
  if (source.empty()) source = entry(Numbered("Data", j));
  if (source.empty()) return;
  if (!IsPlainFileName(name)) {
    Report(run, kMsgDataFileNameInvalid, profilePath, name);
    return;
  }
  Env& env = run.env;
  std::string target = run.spoolDirectory + name;
  if (run.spooledNames.Contains(name) ||
      (run.spooledEarlier.Contains(name) && !SameBytes(env, source, target))) {
    Report(run, kMsgDataFileNameTaken, source, profilePath);
    return;
  }
  if (run.restoreScript.InOwnDirectory(source)) {
    Report(run, kMsgDataFileInOwnDirectory, source);
    return;
  }
  if (!run.restoreScript.CanName(source) || !run.restoreScript.CanName(target)) {
    run.restoreScript.ReportNotNameable(source);  // the job keeps its old path
    return;
  }
  // A copy an earlier run left in the spool directory is replaced, also when
  // it is read-only: its original is still in place.
  bool copied = env.CopyFileTo(source, target, false);
  uint32_t error = copied ? kErrorSuccess : env.LastError();
  if (error == kErrorAccessDenied && env.MakeWritable(target)) {
    copied = env.CopyFileTo(source, target, false);
    error = copied ? kErrorSuccess : env.LastError();
  }
  if (!copied) {
    if (error == kErrorFileNotFound || error == kErrorPathNotFound)
      return;  // gone: nothing to keep
    std::string reason, text;
    GetSystemErrorText(env, reason, error);
    AppendTableMessage(env, text, kMsgDataFileCopyFailed, source.c_str(), target.c_str(),
                       reason.c_str());
    env.ShowMessage(text, kMbOk);
    return;
  }
  run.spooledNames.Insert(name);
  ++run.counts.dataFiles;
  job[Numbered("Data", j)] = name;
  job[name] = name;
  run.restoreScript.AddJobFileCopyLine(target, source);
}

void ImportJob(ImportRun& run, const std::string& queueName, const std::string& profilePath) {
  Env& env = run.env;
  run.progress.ShowDetail(profilePath);
  CIni profile(env, profilePath);
  if (!run.Readable(profile)) return;
  SectionMap job, files;
  profile.ReadSection("Settings", job);
  profile.ReadSection("Files", files);
  for (const auto& [key, value] : files) job[key] = value;
  job["QueueName"] = queueName;

  std::string seqno = profile.ReadString("Settings", "Seqno");
  std::string controlFileName = profile.ReadString("Settings", "ControlFileName");
  if (controlFileName.empty()) {
    // Its key would be Jobs itself: the job stays in its queue for a look.
    Report(run, kMsgJobWithoutControlFileName, profilePath);
    return;
  }
  if (run.jobNames.Contains(controlFileName)) {
    // Jobs\<name> holds the first such job; a second would overwrite part
    // of its record.
    Report(run, kMsgJobNameTaken, profilePath, controlFileName);
    return;
  }
  int count = static_cast<int32_t>(profile.ReadInt("Settings", "DataFiles", 0));
  count = std::min(count, LastListedFile(files));
  for (int j = 1; j <= count; ++j) SpoolDataFile(run, profilePath, files, j, job);

  job.erase("ControlFileName");
  if (!WriteSectionToRegistry(env, job, "Jobs\\" + controlFileName, false)) {
    Report(run, kMsgJobNotWritten, profilePath, controlFileName);
    return;
  }
  // Only a job whose key is there is listed in its queue.
  WithSubkey(env, "Queues\\" + queueName + "\\Jobs",
             [&](RegKey jobs) { WriteTypedValue(env, jobs, seqno, controlFileName, true); });
  run.jobNames.Insert(controlFileName);
  ++run.counts.jobs;
  run.restoreScript.MoveToBackup(profilePath, queueName + "-" + seqno);
}

}  // namespace

void ImportJobs(ImportRun& run, const std::string& queueName, const std::string& queueDirectory) {
  FoundFile found;
  std::unique_ptr<FileSearch> search = run.env.FindFirst(queueDirectory + "\\cf*.ini", &found);
  if (!search) return;
  do {
    if (!found.directory) ImportJob(run, queueName, queueDirectory + "\\" + found.name);
  } while (search->Next(&found));
}
