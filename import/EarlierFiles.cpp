#include "import/EarlierFiles.h"

#include <algorithm>

#include "messages/Messages.h"

namespace {

// More digits would not fit an int; such a name is no file this program kept.
constexpr size_t kMaxDigits = 9;

}  // namespace

std::vector<int> KeptNumbers(Env& env, const std::string& path) {
  std::vector<int> numbers;
  std::string name = path.substr(path.rfind('\\') + 1);
  FoundFile found;
  std::unique_ptr<FileSearch> search = env.FindFirst(path + ".*", &found);
  if (!search) return numbers;
  do {
    if (found.directory || found.name.size() <= name.size() + 1) continue;
    std::string suffix = found.name.substr(name.size() + 1);
    if (suffix.size() > kMaxDigits || suffix[0] == '0' ||
        !std::all_of(suffix.begin(), suffix.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    numbers.push_back(std::stoi(suffix));
  } while (search->Next(&found));
  return numbers;
}

bool KeepEarlierFile(Env& env, const std::string& path) {
  // Only a file is an earlier run's: anything else in the way is left where
  // it is, and the new file cannot be created there.
  FoundFile found;
  if (!env.FindFirst(path, &found) || found.directory) return true;
  std::vector<int> kept = KeptNumbers(env, path);
  int next = kept.empty() ? 1 : *std::max_element(kept.begin(), kept.end()) + 1;
  std::string keptPath = path + "." + std::to_string(next);
  if (env.RenameFile(path, keptPath)) return true;
  std::string error, text;
  GetSystemErrorText(env, error, env.LastError());
  AppendTableMessage(env, text, kMsgEarlierScriptNotKept, path.c_str(), keptPath.c_str(),
                     error.c_str());
  env.ShowMessage(text, kMbOk);
  return false;
}
