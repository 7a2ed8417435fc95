#include "import/BackupNames.h"

#include <algorithm>

#include "import/EarlierFiles.h"
#include "import/RestoreLines.h"

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool BackupNames::AsciiCaseOrder::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

BackupNames::BackupNames(Env& env) : env_(env), taken_(env), next_(FileNameOrder{&env}) {}

void BackupNames::Load(const std::string& backupDirectory, const std::string& spoolDirectory) {
  taken_.Clear();
  named_.clear();
  next_.clear();
  spooledEarlier_.clear();
  FoundFile found;
  if (auto search = env_.FindFirst(backupDirectory + "\\*", &found)) {
    do {
      if (!found.directory) taken_.Insert(found.name);
    } while (search->Next(&found));
  }
  std::string script = backupDirectory + "\\restore.bat";
  for (int n : KeptNumbers(env_, script)) {
    ForEachCompleteLine(env_, script + "." + std::to_string(n), [&](std::string_view line) {
      std::string from, to;
      // A path, rather than a backup name, is a spooled copy.
      if (!ParseCopyLine(line, &from, &to)) return;
      if (IsBackupName(from)) {
        named_.insert(from);
        return;
      }
      std::string folder;
      size_t slash = from.rfind('\\');
      if (slash != std::string::npos && !spoolDirectory.empty() &&
          env_.FullPathName(from.substr(0, slash), &folder) &&
          env_.CompareFileNames(folder, spoolDirectory) == 0) {
        spooledEarlier_.push_back(from.substr(slash + 1));
      }
    });
  }
}

bool BackupNames::IsJournalFileName(const std::string& name) {
  for (const char* own : {"restore.bat", "restore.reg", "CheckLUM.log"}) {
    std::string_view base(own);
    if (name.size() < base.size() ||
        env_.CompareFileNames(std::string_view(name).substr(0, base.size()), base) != 0) {
      continue;
    }
    std::string_view rest = std::string_view(name).substr(base.size());
    if (rest.empty()) return true;
    if (rest[0] == '.' && rest.size() > 1 &&
        std::all_of(rest.begin() + 1, rest.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return true;
    }
  }
  return false;
}

bool BackupNames::Taken(const std::string& name) {
  if (taken_.Contains(name) || IsJournalFileName(name)) return true;
  std::string oem;
  return !named_.empty() && env_.ToOemText(name, &oem) && named_.count(oem) != 0;
}

std::string BackupNames::Unused(const std::string& wanted) {
  auto it = next_.find(wanted);
  if (it == next_.end()) {
    // Most names are wanted once: only one found taken gets a count.
    if (!Taken(wanted)) return wanted;
    it = next_.emplace(wanted, 2).first;
  }
  for (int& n = it->second;; ++n) {
    std::string candidate = wanted + "~" + std::to_string(n);
    if (!Taken(candidate)) {
      ++n;
      return candidate;
    }
  }
}

void BackupNames::Take(const std::string& name) {
  taken_.Insert(name);
}
