#include "platform/testing/FaultInjectionEnv.h"

#include <algorithm>
#include <cstring>

namespace {

class FaultySearch : public FileSearch {
 public:
  FaultySearch(FaultInjectionEnv& env, std::unique_ptr<FileSearch> inner)
      : env_(env), inner_(std::move(inner)) {}
  bool Next(FoundFile* found) override {
    if (env_.Inject("FindNext")) return false;
    return inner_->Next(found);
  }

 private:
  FaultInjectionEnv& env_;
  std::unique_ptr<FileSearch> inner_;
};

}  // namespace

class FaultyFile : public WritableFile {
 public:
  FaultyFile(FaultInjectionEnv& env, std::unique_ptr<WritableFile> inner, size_t recorded)
      : env_(env), inner_(std::move(inner)), recorded_(recorded) {}
  bool Append(std::string_view data) override {
    if (env_.Inject("Append") || !inner_->Append(data)) return false;
    if (env_.cut_) env_.cut_->Appended(recorded_, std::string(data));
    return true;
  }
  bool Sync() override {
    if (env_.Inject("Sync") || !inner_->Sync()) return false;
    if (env_.cut_) env_.cut_->Synced(recorded_);
    return true;
  }
  bool Close() override { return inner_->Close(); }

 private:
  FaultInjectionEnv& env_;
  std::unique_ptr<WritableFile> inner_;
  size_t recorded_;
};

bool FaultInjectionEnv::Inject(const char* operation) {
  bool byName = !failName_.empty() && failName_ == operation && skip_-- == 0;
  long index = count_++;
  operations_.push_back(operation);
  bool from = failFrom_ >= 0 && index >= failFrom_;
  if (index != failAt_ && !byName && !from) return false;
  if (byName) failName_.clear();
  failed_ = operation;
  target().SetLastErrorCode(error_);
  return true;
}

uint32_t FaultInjectionEnv::OpenKey(RegKey parent, const char* subkey, RegKey* result) {
  if (Inject("OpenKey")) return Refused(result);
  return target().OpenKey(parent, subkey, result);
}

uint32_t FaultInjectionEnv::CreateKey(RegKey parent, const char* subkey, RegKey* result,
                                      bool* created) {
  if (Inject("CreateKey")) return Refused(result);
  return target().CreateKey(parent, subkey, result, created);
}

uint32_t FaultInjectionEnv::QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen) {
  if (Inject("QueryKeyInfo")) return error_;
  return target().QueryKeyInfo(key, subkeys, maxSubkeyLen);
}

uint32_t FaultInjectionEnv::EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) {
  if (Inject("EnumKey")) return error_;
  return target().EnumKey(key, index, name, nameChars);
}

uint32_t FaultInjectionEnv::QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                                       uint32_t* size) {
  if (Inject("QueryValue")) return error_;
  return target().QueryValue(key, name, type, data, size);
}

uint32_t FaultInjectionEnv::SetValue(RegKey key, const char* name, uint32_t type,
                                     const uint8_t* data, uint32_t size) {
  if (Inject("SetValue")) return error_;
  return target().SetValue(key, name, type, data, size);
}

uint32_t FaultInjectionEnv::ProfileReadString(const char* section, const char* key, const char* def,
                                              char* buffer, uint32_t size,
                                              const std::string& path) {
  if (Inject("ProfileReadString")) {
    // An unreadable file reads like a missing one: the default comes back.
    if (size == 0) return 0;
    size_t length = def ? std::min<size_t>(std::strlen(def), size - 1) : 0;
    if (length) std::memcpy(buffer, def, length);
    buffer[length] = '\0';
    return static_cast<uint32_t>(length);
  }
  return target().ProfileReadString(section, key, def, buffer, size, path);
}

uint32_t FaultInjectionEnv::ProfileReadSection(const char* section, char* buffer, uint32_t size,
                                               const std::string& path) {
  if (Inject("ProfileReadSection")) {
    // An unreadable file reads like a missing one: an empty list.
    if (size > 0) buffer[0] = '\0';
    if (size > 1) buffer[1] = '\0';
    return 0;
  }
  return target().ProfileReadSection(section, buffer, size, path);
}

uint32_t FaultInjectionEnv::ProfileReadInt(const char* section, const char* key, int32_t def,
                                           const std::string& path) {
  if (Inject("ProfileReadInt")) return static_cast<uint32_t>(def);
  return target().ProfileReadInt(section, key, def, path);
}

bool FaultInjectionEnv::ProfileWriteString(const char* section, const char* key, const char* value,
                                           const std::string& path) {
  if (Inject("ProfileWriteString")) return false;
  return target().ProfileWriteString(section, key, value, path);
}

bool FaultInjectionEnv::WindowsDirectory(std::string* dir) {
  return !Inject("WindowsDirectory") && target().WindowsDirectory(dir);
}

bool FaultInjectionEnv::ModuleFileName(std::string* path) {
  return !Inject("ModuleFileName") && target().ModuleFileName(path);
}

bool FaultInjectionEnv::ShortPathName(const std::string& longPath, std::string* shortPath) {
  return !Inject("ShortPathName") && target().ShortPathName(longPath, shortPath);
}

bool FaultInjectionEnv::CreateDir(const std::string& path) {
  if (Inject("CreateDir") || !target().CreateDir(path)) return false;
  if (cut_) cut_->MadeFolder(path);
  return true;
}

bool FaultInjectionEnv::CopyFileTo(const std::string& from, const std::string& to,
                                   bool failIfExists) {
  if (Inject("CopyFileTo")) return false;
  if (cut_) cut_->Before(to);
  if (!target().CopyFileTo(from, to, failIfExists)) return false;
  if (cut_) cut_->Copied(to, cut_->ReadNow(to).value_or(""));
  return true;
}

bool FaultInjectionEnv::FlushFiles(const std::vector<std::string>& paths) {
  if (Inject("FlushFiles") || !target().FlushFiles(paths)) return false;
  if (cut_) {
    for (const std::string& path : paths) cut_->Flushed(path);
  }
  return true;
}

bool FaultInjectionEnv::RemoveFile(const std::string& path) {
  if (Inject("RemoveFile")) return false;
  if (cut_) cut_->Before(path);
  if (!target().RemoveFile(path)) return false;
  if (cut_) cut_->Removed(path);
  return true;
}

bool FaultInjectionEnv::MakeWritable(const std::string& path) {
  return !Inject("MakeWritable") && target().MakeWritable(path);
}

bool FaultInjectionEnv::RenameFile(const std::string& from, const std::string& to) {
  if (Inject("RenameFile")) return false;
  if (cut_) {
    cut_->Before(from);
    cut_->Before(to);
  }
  if (!target().RenameFile(from, to)) return false;
  if (cut_) cut_->Renamed(from, to);
  return true;
}

std::unique_ptr<ReadableFile> FaultInjectionEnv::OpenReadable(const std::string& path) {
  if (Inject("OpenReadable")) return nullptr;
  return target().OpenReadable(path);
}

std::unique_ptr<FileSearch> FaultInjectionEnv::FindFirst(const std::string& pattern,
                                                         FoundFile* first) {
  if (Inject("FindFirst")) return nullptr;
  std::unique_ptr<FileSearch> search = target().FindFirst(pattern, first);
  if (!search) return nullptr;
  return std::make_unique<FaultySearch>(*this, std::move(search));
}

std::unique_ptr<WritableFile> FaultInjectionEnv::CreateWritable(const std::string& path) {
  if (Inject("CreateWritable")) return nullptr;
  if (cut_) cut_->Before(path);
  std::unique_ptr<WritableFile> file = target().CreateWritable(path);
  if (!file) return nullptr;
  size_t recorded = cut_ ? cut_->Created(path) : 0;
  return std::make_unique<FaultyFile>(*this, std::move(file), recorded);
}
