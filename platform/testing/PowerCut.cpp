#include "platform/testing/PowerCut.h"

#include <algorithm>
#include <set>

std::string PowerCut::Key(const std::string& path) {
  std::string key;
  for (char c : path) {
    if (c == '/') c = '\\';
    if (c == '\\' && !key.empty() && key.back() == '\\') continue;
    key += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return key;
}

size_t PowerCut::NewFile(std::string durable) {
  files_.push_back({std::move(durable), {}});
  return files_.size() - 1;
}

void PowerCut::Before(const std::string& path) {
  std::string key = Key(path);
  if (path_.count(key) != 0) return;
  path_[key] = path;
  if (std::optional<std::string> content = read_(path)) {
    size_t file = NewFile(std::move(*content));
    before_[key] = file;
    names_[key] = file;
  }
}

size_t PowerCut::Created(const std::string& path) {
  std::string key = Key(path);
  auto named = names_.find(key);
  if (named != names_.end()) {
    files_[named->second].pending.push_back({true, ""});
    return named->second;
  }
  size_t file = NewFile("");
  folderOps_.push_back({Kind::kLink, key, "", file});
  names_[key] = file;
  return file;
}

void PowerCut::Appended(size_t file, const std::string& data) {
  files_[file].pending.push_back({false, data});
}

void PowerCut::MakeDurable(size_t file) {
  File& f = files_[file];
  for (const Write& write : f.pending) {
    if (write.truncate) f.durable.clear();
    f.durable += write.bytes;
  }
  f.pending.clear();
  durableFolderOps_ = folderOps_.size();
}

void PowerCut::Synced(size_t file) {
  MakeDurable(file);
}

void PowerCut::Copied(const std::string& path, const std::string& content) {
  size_t file = Created(path);
  files_[file].pending.push_back({false, content});
}

void PowerCut::Flushed(const std::string& path) {
  auto named = names_.find(Key(path));
  if (named != names_.end()) MakeDurable(named->second);
}

void PowerCut::Removed(const std::string& path) {
  std::string key = Key(path);
  folderOps_.push_back({Kind::kUnlink, key, "", 0});
  names_.erase(key);
}

void PowerCut::Renamed(const std::string& from, const std::string& to) {
  std::string key = Key(from), target = Key(to);
  folderOps_.push_back({Kind::kRename, key, target, 0});
  auto named = names_.find(key);
  if (named != names_.end()) {
    names_[target] = named->second;
    names_.erase(key);
  }
  durableFolderOps_ = folderOps_.size();  // written through
}

void PowerCut::MadeFolder(const std::string& path) {
  std::string key = Key(path);
  path_.try_emplace(key, path);
  folderOps_.push_back({Kind::kFolder, key, "", 0});
}

PowerCut::Choice PowerCut::EverythingLost() const {
  return Choice{durableFolderOps_, {}};
}

PowerCut::Choice PowerCut::EverythingKept() const {
  Choice choice{folderOps_.size(), {}};
  for (size_t i = 0; i < files_.size(); ++i) {
    if (!files_[i].pending.empty()) choice.files[i] = {files_[i].pending.size(), SIZE_MAX};
  }
  return choice;
}

PowerCut::Choice PowerCut::Sample(std::mt19937& random, bool tears) const {
  auto below = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n)(random); };
  Choice choice{durableFolderOps_ + below(folderOps_.size() - durableFolderOps_), {}};
  for (size_t i = 0; i < files_.size(); ++i) {
    const std::vector<Write>& pending = files_[i].pending;
    if (pending.empty()) continue;
    switch (below(tears ? 2 : 1)) {
      case 0:  // lost
        break;
      case 1:  // kept
        choice.files[i] = {pending.size(), SIZE_MAX};
        break;
      default: {  // torn inside the last write kept
        size_t writes = 1 + below(pending.size() - 1);
        choice.files[i] = {writes, below(pending[writes - 1].bytes.size())};
        break;
      }
    }
  }
  return choice;
}

size_t PowerCut::Unflushed() const {
  size_t count = folderOps_.size() - durableFolderOps_;
  for (const File& file : files_) count += file.pending.size();
  return count;
}

PowerCut::State PowerCut::After(const Choice& choice) const {
  std::map<std::string, size_t> names = before_;
  State state;
  for (size_t i = 0; i < folderOps_.size(); ++i) {
    const FolderOp& op = folderOps_[i];
    bool kept = i < choice.folderOps;
    switch (op.kind) {
      case Kind::kLink:
        if (kept) names[op.key] = op.file;
        break;
      case Kind::kUnlink:
        if (kept) names.erase(op.key);
        break;
      case Kind::kRename:
        if (kept && names.count(op.key) != 0) {
          names[op.to] = names[op.key];
          names.erase(op.key);
        }
        break;
      case Kind::kFolder:
        if (!kept) state.lostFolders.push_back(path_.at(op.key));
        break;
    }
  }
  std::set<std::string> folders;
  for (const FolderOp& op : folderOps_) {
    if (op.kind == Kind::kFolder) folders.insert(op.key);
  }
  for (const auto& [key, path] : path_) {
    auto named = names.find(key);
    if (folders.count(key) != 0) continue;
    if (named == names.end()) {
      state.files[path] = std::nullopt;
      continue;
    }
    const File& file = files_[named->second];
    std::string content = file.durable;
    auto kept = choice.files.find(named->second);
    size_t writes = kept == choice.files.end() ? 0 : kept->second.writes;
    for (size_t w = 0; w < writes && w < file.pending.size(); ++w) {
      const Write& write = file.pending[w];
      if (write.truncate) content.clear();
      bool last = w + 1 == writes;
      size_t bytes = last ? std::min(kept->second.lastBytes, write.bytes.size()) : SIZE_MAX;
      content += write.bytes.substr(0, bytes);
    }
    state.files[path] = std::move(content);
  }
  return state;
}

std::string PowerCut::Describe(const Choice& choice) const {
  std::string text = std::to_string(choice.folderOps - durableFolderOps_) + " of " +
                     std::to_string(folderOps_.size() - durableFolderOps_) +
                     " unflushed folder operations kept";
  for (const auto& [file, kept] : choice.files) {
    std::string name;
    for (const auto& [key, index] : names_) {
      if (index == file) name = path_.at(key);
    }
    text += "; " + (name.empty() ? "file " + std::to_string(file) : name) + ": " +
            std::to_string(kept.writes) + " of " + std::to_string(files_[file].pending.size()) +
            " writes" +
            (kept.lastBytes == SIZE_MAX
                 ? ""
                 : ", the last torn at " + std::to_string(kept.lastBytes) + " bytes");
  }
  return text;
}
