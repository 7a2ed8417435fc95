#include "import/QueueImport.h"

#include <algorithm>
#include <cstring>

#include "import/JobImport.h"
#include "import/QueueValueWriter.h"
#include "import/SectionWriter.h"
#include "messages/Messages.h"

namespace {

void Report(ImportRun& run, uint32_t id, const std::string& a, const std::string& b) {
  std::string text;
  AppendTableMessage(run.env, text, id, a.c_str(), b.c_str());
  run.env.ShowMessage(text, kMbOk);
}

// True when `path` names an existing directory, also when written with a
// trailing backslash. A path with wildcards names no one directory.
bool IsDirectory(Env& env, std::string path) {
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return false;
  FoundFile found;
  return env.FindFirst(path, &found) != nullptr && found.directory;
}

bool FileExists(Env& env, const std::string& path) {
  FoundFile found;
  return path.find_first_of("*?") == std::string::npos && env.FindFirst(path, &found) != nullptr &&
         !found.directory;
}

void PutLittleEndian(uint32_t value, uint8_t* at) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The queue's settings: [Settings], [Bytes] and [Margins] in this order. The
// [Settings] entries InsertBytes and AppendBytes are renamed first, so that
// they survive beside the byte strings of [Bytes].
SectionMap QueueSettings(const CIni& profile, const QueueList& queues, const std::string& name) {
  SectionMap settings;
  profile.ReadSection("Settings", settings);
  for (const char* renamed : {"InsertBytes", "AppendBytes"}) {
    auto it = settings.find(renamed);
    if (it == settings.end()) continue;
    settings[std::string("b") + renamed] = it->second;
    settings.erase(renamed);
  }
  profile.ReadSection("Bytes", settings);
  profile.ReadSection("Margins", settings);
  settings.erase("ModeSize");
  if (auto cfdir = queues.cfdirs.find(name); cfdir != queues.cfdirs.end()) {
    settings["cfdir"] = cfdir->second;
  }
  return settings;
}

void ImportQueue(ImportRun& run, const QueueList& queues, const std::string& name,
                 const std::string& directory) {
  Env& env = run.env;
  if (!IsDirectory(env, directory)) {
    Report(run, kMsgQueueDirectoryMissing, name, directory);
    return;
  }
  std::string profilePath = directory + "\\queue.ini";
  if (!FileExists(env, profilePath)) {
    Report(run, kMsgQueueConfigMissing, name, profilePath);
    return;
  }
  run.progress.ShowDetail(profilePath);
  CIni profile(env, profilePath);
  if (!run.Readable(profile)) return;
  SectionMap settings = QueueSettings(profile, queues, name);
  std::string key = "Queues\\" + name;
  bool written = WriteQueueValues(env, settings, key);
  if (written && !profile.ReadString("Font", "FaceName").empty()) {
    std::array<uint8_t, 60> font = FontRecord(profile);
    WithSubkey(env, key, [&](RegKey queueKey) {
      env.SetValue(queueKey, "Font", kRegBinary, font.data(), font.size());
    });
  }
  if (!written) {
    // Without its key the queue's settings live only in its profile, which
    // must then stay; so do its jobs.
    Report(run, kMsgQueueNotWritten, name, profilePath);
    return;
  }
  ++run.counts.queues;
  run.restoreScript.MoveToBackup(profilePath, name);
  ImportJobs(run, name, directory);
}

}  // namespace

QueueList ReadQueueList(const CIni& mainProfile) {
  SectionMap entries;
  mainProfile.ReadSection("Queues", entries);
  QueueList queues;
  for (const auto& [unused, name] : entries) {
    queues.directories[name] = mainProfile.ReadString(name, "queuedir");
    std::string cfdir = mainProfile.ReadString(name, "cfdir");
    if (!cfdir.empty()) queues.cfdirs[name] = cfdir;
  }
  return queues;
}

std::array<uint8_t, 60> FontRecord(const CIni& profile) {
  std::array<uint8_t, 60> record{};
  PutLittleEndian(profile.ReadInt("Font", "Height", 0), &record[0]);
  PutLittleEndian(profile.ReadInt("Font", "Weight", 400), &record[16]);
  const std::pair<const char*, size_t> bytes[] = {{"Italic", 20},       {"Underline", 21},
                                                  {"OutPrecision", 24}, {"ClipPrecision", 25},
                                                  {"Quality", 26},      {"PitchAndFamily", 27}};
  for (const auto& [key, offset] : bytes) {
    record[offset] = static_cast<uint8_t>(profile.ReadInt("Font", key, 0));
  }
  std::string face = profile.ReadString("Font", "FaceName");
  std::memcpy(&record[28], face.data(), std::min<size_t>(face.size(), 31));
  return record;
}

void ImportQueues(ImportRun& run, const CIni& mainProfile) {
  // The queue list is the last thing read from the main profile; after it the
  // main profile has been imported and goes to backup.
  QueueList queues = ReadQueueList(mainProfile);
  run.restoreScript.MoveToBackup(mainProfile.GetPath(), "lum.ini");
  for (const auto& [name, directory] : queues.directories) {
    // What earlier queues moved from this queue's directory (two queues may
    // share one) has left before the directory is looked at.
    run.restoreScript.CommitBefore(directory);
    ImportQueue(run, queues, name, directory);
  }
}
