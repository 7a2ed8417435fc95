#include "app/RestoreImage.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "messages/Messages.h"
#include "platform/portable/registry/RegistryImport.h"
#include "platform/portable/text/Text.h"

namespace fs = std::filesystem;

namespace {

bool ReadHostFile(const fs::path& file, std::string* bytes) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// One field of a line: quoted (the quotes removed) or up to the next blank.
// Every % must come doubled, as the journal writes it; false otherwise.
bool NextField(const std::string& line, size_t* at, std::string* field) {
  while (*at < line.size() && line[*at] == ' ') ++*at;
  if (*at >= line.size()) return false;
  field->clear();
  bool quoted = line[*at] == '"';
  if (quoted) ++*at;
  while (*at < line.size() && (quoted ? line[*at] != '"' : line[*at] != ' ')) {
    if (line[*at] == '%') {
      if (*at + 1 >= line.size() || line[*at + 1] != '%') return false;
      ++*at;
    }
    *field += line[(*at)++];
  }
  if (quoted) {
    if (*at >= line.size()) return false;
    ++*at;
  }
  return !field->empty();
}

// A path as cmd resolves it from the backup directory.
std::string FromBackup(const std::string& backupDirectory, const std::string& path) {
  bool absolute = path.size() >= 3 && path[1] == ':' && path[2] == '\\';
  bool unc = path.rfind("\\\\", 0) == 0;
  return absolute || unc ? path : backupDirectory + "\\" + path;
}

}  // namespace

std::vector<std::string> RestoreChainNames(EnvPortable& env, const std::string& backupDirectory,
                                           const std::string& name) {
  std::vector<std::string> chain;
  FoundFile found;
  if (env.FindFirst(backupDirectory + "\\" + name, &found)) chain.push_back(name);
  std::vector<int> kept;
  if (auto search = env.FindFirst(backupDirectory + "\\" + name + ".*", &found)) {
    do {
      std::string suffix = found.name.substr(std::min(found.name.size(), name.size() + 1));
      if (!suffix.empty() && suffix.size() < 10 &&
          std::all_of(suffix.begin(), suffix.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        kept.push_back(std::stoi(suffix));
      }
    } while (search->Next(&found));
  }
  std::sort(kept.rbegin(), kept.rend());
  for (int n : kept) chain.push_back(name + "." + std::to_string(n));
  return chain;
}

bool ParseCopyLine(const std::string& line, uint32_t oemCodePage, std::string* from,
                   std::string* to) {
  std::string ansi = OemToCp1252(line, oemCodePage);
  size_t at = 0;
  std::string command;
  if (!NextField(ansi, &at, &command)) return false;
  std::transform(command.begin(), command.end(), command.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  if (command != "copy/y" || !NextField(ansi, &at, from) || !NextField(ansi, &at, to)) {
    return false;
  }
  while (at < ansi.size() && ansi[at] == ' ') ++at;
  return at == ansi.size();
}

RestoreOutcome RestoreImage(EnvPortable& env, const std::string& backupDirectory,
                            std::ostream& messages) {
  RestoreOutcome outcome;
  for (const std::string& name : RestoreChainNames(env, backupDirectory, "restore.bat")) {
    std::string script;
    std::string path = backupDirectory + "\\" + name;
    if (!ReadHostFile(env.HostPath(path), &script)) {
      messages << FormatTableString(kMsgCliRestoreFileUnreadable, path.c_str());
      ++outcome.failed;
      continue;
    }
    ++outcome.scripts;
    size_t begin = 0;
    for (int number = 1; begin < script.size(); ++number) {
      size_t end = script.find('\n', begin);
      if (end == std::string::npos) end = script.size();
      std::string line = script.substr(begin, end - begin);
      begin = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      std::string from, to;
      if (!ParseCopyLine(line, env.OemCodePage(), &from, &to)) {
        messages << FormatTableString(kMsgCliRestoreLineRefused, path.c_str(), number);
        ++outcome.failed;
        continue;
      }
      from = FromBackup(backupDirectory, from);
      to = FromBackup(backupDirectory, to);
      if (env.HostPath(from).empty() || env.HostPath(to).empty()) {
        messages << FormatTableString(kMsgCliRestoreOutsideImage, path.c_str(), number,
                                      from.c_str(), to.c_str());
        ++outcome.failed;
        continue;
      }
      if (env.CopyFileTo(from, to, false)) {
        ++outcome.copied;
        continue;
      }
      std::string reason;
      GetSystemErrorText(env, reason, env.LastError());
      messages << FormatTableString(kMsgCliRestoreCopyFailed, path.c_str(), number, from.c_str(),
                                    to.c_str(), reason.c_str());
      ++outcome.failed;
    }
  }

  std::vector<fs::path> undo;
  for (const std::string& name : RestoreChainNames(env, backupDirectory, "restore.reg")) {
    undo.push_back(env.HostPath(backupDirectory + "\\" + name));
  }
  outcome.registryFiles = static_cast<int>(undo.size());
  std::string error;
  if (!undo.empty() && !env.ImportRegistryFiles(undo, &error)) {
    messages << FormatTableString(kMsgCliRestoreRegistryFailed, error.c_str());
    outcome.registryRestored = false;
  }
  return outcome;
}
