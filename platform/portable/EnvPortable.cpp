#include "platform/portable/EnvPortable.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <system_error>
#include <vector>

#include "platform/WinError.h"
#include "platform/portable/SystemMessages.h"
#include "platform/portable/files/HostFile.h"
#include "platform/portable/files/Wildcard.h"
#include "platform/portable/profile/ProfileService.h"
#include "platform/portable/registry/PortableRegistry.h"
#include "platform/portable/registry/RegistryImport.h"
#include "platform/portable/registry/RegistryStore.h"
#include "platform/portable/text/Text.h"

namespace fs = std::filesystem;

namespace {

// Marks "the profile service did not set the last error".
constexpr uint32_t kErrorUnset = 0xFFFFFFFF;

// The folder of a program path, with its backslash ("C:\Setup\CheckLUM.exe"
// gives "C:\Setup\").
std::string ProgramFolder(const std::string& programPath) {
  size_t slash = programPath.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : programPath.substr(0, slash + 1);
}

// The Windows directory as GetWindowsDirectoryA spells it: no trailing
// backslash unless it is a drive's root.
std::string WithoutTrailingSeparator(std::string dir) {
  while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  return dir;
}

class PortableSearch : public FileSearch {
 public:
  PortableSearch(std::vector<FoundFile> found, uint32_t* lastError)
      : found_(std::move(found)), lastError_(lastError) {}
  bool Next(FoundFile* found) override {
    if (next_ >= found_.size()) {
      *lastError_ = kErrorNoMoreFiles;
      return false;
    }
    *found = found_[next_++];
    return true;
  }

 private:
  std::vector<FoundFile> found_;  // taken when the search began
  size_t next_ = 1;               // the first entry went to FindFirst
  uint32_t* lastError_;
};

class PortableWritableFile : public WritableFile {
 public:
  PortableWritableFile(std::FILE* file, uint32_t* lastError) : file_(file), lastError_(lastError) {}
  // A file already closed leaves the last error alone as it goes.
  ~PortableWritableFile() override {
    if (file_ != nullptr) Close();
  }
  bool Append(std::string_view data) override {
    if (file_ == nullptr) return Fail(kErrorInvalidHandle);
    if (std::fwrite(data.data(), 1, data.size(), file_) != data.size()) {
      return Fail(WindowsErrorFromErrno(kErrorWriteFault));
    }
    return true;
  }
  bool Sync() override {
    if (file_ == nullptr) return Fail(kErrorInvalidHandle);
    return SyncHostFile(file_) || Fail(WindowsErrorFromErrno(kErrorWriteFault));
  }
  bool Close() override {
    if (file_ == nullptr) return Fail(kErrorInvalidHandle);
    int result = std::fclose(file_);
    file_ = nullptr;
    return result == 0 || Fail(WindowsErrorFromErrno(kErrorWriteFault));
  }

 private:
  bool Fail(uint32_t error) {
    *lastError_ = error;
    return false;
  }
  std::FILE* file_;
  uint32_t* lastError_;
};

class PortableReadableFile : public ReadableFile {
 public:
  PortableReadableFile(std::FILE* file, uint32_t* lastError) : file_(file), lastError_(lastError) {}
  ~PortableReadableFile() override { std::fclose(file_); }
  bool Read(char* buffer, uint32_t size, uint32_t* read) override {
    *read = static_cast<uint32_t>(std::fread(buffer, 1, size, file_));
    if (*read < size && std::ferror(file_)) {
      *lastError_ = WindowsErrorFromErrno(kErrorReadFault);
      return false;
    }
    return true;
  }

 private:
  std::FILE* file_;
  uint32_t* lastError_;
};

}  // namespace

EnvPortable::EnvPortable(PortableOptions options)
    : options_(std::move(options)),
      paths_(options_.image, options_.drives, ProgramFolder(options_.programPath)),
      registry_(std::make_unique<PortableRegistry>()),
      profiles_(std::make_unique<ProfileService>()),
      view_(options_.progress, options_.messages,
            options_.progress == &std::cout && StandardOutputIsTerminal(), options_.caption) {}

EnvPortable::~EnvPortable() = default;

bool EnvPortable::Fail(uint32_t error) {
  lastError_ = error;
  return false;
}

bool EnvPortable::LockImage(fs::path* busy) {
  std::vector<fs::path> folders = {options_.image};
  for (const auto& [letter, folder] : options_.drives) folders.push_back(folder);
  fs::path held;
  if (HoldHostFolders(folders, &locks_, &held)) return true;
  if (busy != nullptr) *busy = held;
  return false;
}

bool EnvPortable::RegistryFileUsable(std::string* error) {
  fs::path file = options_.image / "HKLM.reg";
  std::error_code ec;
  fs::file_status status = fs::symlink_status(file, ec);
  if (!fs::exists(status) || fs::is_regular_file(status)) return true;
  *error = file.string() + ": not a plain file (a link, a folder or a device); it is not read";
  return false;
}

bool EnvPortable::RegistryHive(fs::path* hive, std::string* error) {
  hive->clear();
  std::error_code ec;
  if (!options_.openHive || fs::exists(fs::symlink_status(options_.image / "HKLM.reg", ec))) {
    return true;
  }
  const std::string path = options_.windowsDirectory + "\\System32\\config\\SOFTWARE";
  ImageLocation found = paths_.Locate(path);
  // Missing, also with a folder on its way missing: there is no hive. But a
  // hive that is there in a form no run reads (a link, a folder, a device,
  // or behind a link) would let the run write another registry than the
  // machine's without a word.
  if (found.error == kErrorSuccess && found.exists && !found.directory &&
      fs::is_regular_file(fs::symlink_status(found.host, ec))) {
    *hive = found.host;
    return true;
  }
  bool missing = found.error == kErrorSuccess
                     ? !found.exists
                     : found.error == kErrorPathNotFound && !found.host.empty();
  if (missing) return true;
  *error = path +
           ": not a plain file (a link, a folder or a device, or reached through a link); "
           "the machine's registry is not read";
  return false;
}

bool EnvPortable::LoadRegistry(std::string* error) {
  fs::path file = options_.image / "HKLM.reg";
  if (!RegistryFileUsable(error)) return false;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(file, ec))) return registry_->LoadFile(file, error);
  if (!RegistryHive(&hive_, error)) return false;
  if (hive_.empty()) return true;
  std::shared_ptr<RegistryStore> store = options_.openHive(hive_, error);
  if (!store) return false;
  registry_->Attach(std::move(store));
  return true;
}

uint32_t EnvPortable::CheckRegistryWritable() {
  // The file (or the hive) is replaced by renaming a new one over it, so
  // what counts is whether a file can be made beside it, and room for a
  // whole new copy there: the run's own keys come on top, and the files it
  // moves may take room on the same disk, so this finds a disk that is
  // full already, not every one that will be.
  const fs::path file = hive_.empty() ? options_.image / "HKLM.reg" : hive_;
  uint32_t error = hive_.empty() ? ProbeHostFolderWritable(options_.image)
                                 : ProbeHostFolderWritable(hive_.parent_path(), kHiveTemporaryStem);
  if (error != kErrorSuccess) return error;
  std::error_code ec;
  const uintmax_t size = fs::exists(file, ec) ? fs::file_size(file, ec) : 0;
  const fs::space_info space = fs::space(file.parent_path(), ec);
  constexpr uintmax_t kRoom = 1 << 20;  // for the run's keys, at the least
  if (!ec && space.available < size + kRoom) return kErrorDiskFull;
  return kErrorSuccess;
}

bool EnvPortable::SaveRegistry(std::string* error) {
  if (!registry_->Changed()) return true;
  if (!hive_.empty()) return registry_->SaveStore(error);
  return registry_->SaveFile(options_.image / "HKLM.reg", error);
}

bool EnvPortable::ImportRegistryFiles(const std::vector<fs::path>& files, std::string* error) {
  fs::path hive;
  if (!RegistryHive(&hive, error)) return false;
  if (hive.empty()) return ::ImportRegistryFiles(options_.image / "HKLM.reg", files, error);
  // All files go into the registry in memory, and the hive is committed
  // once: all of them or none.
  std::shared_ptr<RegistryStore> store = options_.openHive(hive, error);
  if (!store) return false;
  PortableRegistry registry;
  registry.Attach(std::move(store));
  return ApplyRegistryFiles(registry, files, error) &&
         (!registry.Changed() || registry.SaveStore(error));
}

fs::path EnvPortable::HostPath(const std::string& windowsPath) const {
  ImageLocation location = paths_.Locate(windowsPath);
  return location.error == kErrorSuccess ? location.host : fs::path();
}

bool EnvPortable::LeadsOutside(const std::string& windowsPath) const {
  ImageLocation location = paths_.Locate(windowsPath);
  return location.error != kErrorSuccess && location.host.empty();
}

// --- Registry: the image's own registry. ---

uint32_t EnvPortable::OpenKey(RegKey parent, const char* subkey, RegKey* result) {
  return registry_->OpenKey(parent, subkey, result);
}

uint32_t EnvPortable::CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) {
  return registry_->CreateKey(parent, subkey, result, created);
}

uint32_t EnvPortable::QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen) {
  return registry_->QueryKeyInfo(key, subkeys, maxSubkeyLen);
}

uint32_t EnvPortable::EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) {
  return registry_->EnumKey(key, index, name, nameChars);
}

uint32_t EnvPortable::QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                                 uint32_t* size) {
  return registry_->QueryValue(key, name, type, data, size);
}

uint32_t EnvPortable::SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                               uint32_t size) {
  return registry_->SetValue(key, name, type, data, size);
}

uint32_t EnvPortable::CloseKey(RegKey key) {
  return registry_->CloseKey(key);
}

// --- Private profiles: the profile service on the file's host path. ---

fs::path EnvPortable::ProfileHostPath(const std::string& path) const {
  std::string full = path;
  if (path.find_first_of("\\/:") == std::string::npos) {
    std::string dir = WithoutTrailingSeparator(options_.windowsDirectory);
    full = dir + (dir.empty() || dir.back() == '\\' ? "" : "\\") + path;
  }
  // A path outside the image gives an empty host path, which no file has.
  return paths_.Locate(full).host;
}

uint32_t EnvPortable::ProfileReadString(const char* section, const char* key, const char* def,
                                        char* buffer, uint32_t size, const std::string& path) {
  uint32_t error = kErrorUnset;
  uint32_t result =
      profiles_->ReadString(section, key, def, buffer, size, ProfileHostPath(path), &error);
  if (error != kErrorUnset) lastError_ = error;
  return result;
}

uint32_t EnvPortable::ProfileReadSection(const char* section, char* buffer, uint32_t size,
                                         const std::string& path) {
  uint32_t error = kErrorUnset;
  uint32_t result = profiles_->ReadSection(section, buffer, size, ProfileHostPath(path), &error);
  if (error != kErrorUnset) lastError_ = error;
  return result;
}

uint32_t EnvPortable::ProfileReadInt(const char* section, const char* key, int32_t def,
                                     const std::string& path) {
  uint32_t error = kErrorUnset;
  uint32_t result = profiles_->ReadInt(section, key, def, ProfileHostPath(path), &error);
  if (error != kErrorUnset) lastError_ = error;
  return result;
}

bool EnvPortable::ProfileWriteString(const char* section, const char* key, const char* value,
                                     const std::string& path) {
  uint32_t error = kErrorUnset;
  std::filesystem::path file = ProfileHostPath(path);
  bool result = profiles_->WriteString(section, key, value, file, &error);
  if (error != kErrorUnset) lastError_ = error;
  paths_.Changed(file);
  return result;
}

// --- Files and system. ---

bool EnvPortable::WindowsDirectory(std::string* dir) {
  std::string configured = WithoutTrailingSeparator(options_.windowsDirectory);
  ImageLocation location = paths_.Locate(configured);
  if (!IsAbsolutePath(configured) || location.error != kErrorSuccess || !location.directory) {
    return Fail(kErrorPathNotFound);
  }
  *dir = configured;
  return true;
}

bool EnvPortable::ModuleFileName(std::string* path) {
  if (options_.programPath.empty()) return Fail(kErrorFileNotFound);
  *path = options_.programPath;
  return true;
}

bool EnvPortable::ShortPathName(const std::string& longPath, std::string* shortPath) {
  ImageLocation location = paths_.Locate(longPath);
  if (location.error == kErrorInvalidName) return Fail(kErrorInvalidName);
  if (location.error != kErrorSuccess || !location.exists) return Fail(kErrorFileNotFound);
  *shortPath = longPath;  // no 8.3 names on this volume
  return true;
}

bool EnvPortable::FullPathName(const std::string& path, std::string* fullPath) {
  uint32_t error = paths_.FullPath(path, fullPath);
  return error == kErrorSuccess || Fail(error);
}

int EnvPortable::CompareFileNames(std::string_view a, std::string_view b) {
  // NameKey(a).compare(NameKey(b)), without making either key: sets of
  // file names compare names all the time.
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    char16_t x = UpperCase(Cp1252ToUnicode(static_cast<unsigned char>(a[i])));
    char16_t y = UpperCase(Cp1252ToUnicode(static_cast<unsigned char>(b[i])));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

bool EnvPortable::CreateDir(const std::string& path) {
  ImageLocation location = paths_.Locate(path);
  if (location.error == kErrorAccessDenied) return Fail(kErrorAlreadyExists);
  if (location.error != kErrorSuccess) return Fail(location.error);
  if (location.exists) return Fail(kErrorAlreadyExists);
  std::error_code ec;
  bool created = fs::create_directory(location.host, ec);
  paths_.Changed(location.host);
  if (!created) return Fail(ec ? WindowsError(ec, kErrorAccessDenied) : kErrorAlreadyExists);
  // Files flushed in it later make their own names durable, not the
  // folder's: that one is made durable here.
  SyncHostFolder(location.parent);
  return true;
}

bool EnvPortable::CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) {
  ImageLocation source = paths_.Locate(from);
  if (source.error != kErrorSuccess) return Fail(source.error);
  if (!source.exists)
    return Fail(source.trailingSeparator ? kErrorInvalidName : kErrorFileNotFound);
  if (source.directory) return Fail(kErrorAccessDenied);
  if (source.trailingSeparator) return Fail(kErrorInvalidName);

  ImageLocation target = paths_.Locate(to);
  if (target.error != kErrorSuccess) return Fail(target.error);
  if (target.exists && target.directory) return Fail(kErrorAccessDenied);
  if (target.trailingSeparator) return Fail(kErrorInvalidName);
  if (target.exists) {
    std::error_code ec;
    if (failIfExists) return Fail(kErrorFileExists);
    if (fs::equivalent(source.host, target.host, ec)) return Fail(kErrorSharingViolation);
    if (IsReadOnly(target.host)) return Fail(kErrorAccessDenied);
  }
  uint32_t error = CopyHostFile(source.host, target.host, target.exists);
  paths_.Changed(target.host, error == kErrorSuccess ? HostChange::kFile : HostChange::kLookAgain);
  return error == kErrorSuccess || Fail(error);
}

bool EnvPortable::RemoveFile(const std::string& path) {
  ImageLocation location = paths_.Locate(path);
  if (location.error != kErrorSuccess) return Fail(location.error);
  if (!location.exists) {
    return Fail(location.trailingSeparator ? kErrorInvalidName : kErrorFileNotFound);
  }
  if (location.directory || IsReadOnly(location.host)) return Fail(kErrorAccessDenied);
  if (location.trailingSeparator) return Fail(kErrorInvalidName);
  std::error_code ec;
  bool removed = fs::remove(location.host, ec);
  paths_.Changed(location.host, removed ? HostChange::kRemoved : HostChange::kLookAgain);
  return removed || Fail(WindowsError(ec, kErrorFileNotFound));
}

bool EnvPortable::RenameFile(const std::string& from, const std::string& to) {
  ImageLocation source = paths_.Locate(from);
  if (source.error != kErrorSuccess) return Fail(source.error);
  if (!source.exists) return Fail(kErrorFileNotFound);
  ImageLocation target = paths_.Locate(to);
  if (target.error != kErrorSuccess) return Fail(target.error);
  if (target.exists) return Fail(kErrorAlreadyExists);
  if (source.trailingSeparator || target.trailingSeparator) return Fail(kErrorInvalidName);
  uint32_t error = RenameHostFile(source.host, target.host);
  if (source.directory) paths_.FolderMoved(source.host);
  paths_.Changed(source.host);
  paths_.Changed(target.host);
  return error == kErrorSuccess || Fail(error);
}

bool EnvPortable::MakeWritable(const std::string& path) {
  ImageLocation location = paths_.Locate(path);
  if (location.error != kErrorSuccess) return Fail(location.error);
  if (!location.exists) return Fail(kErrorFileNotFound);
  if (location.directory || !IsReadOnly(location.host)) return true;
  return MakeHostWritable(location.host) || Fail(kErrorAccessDenied);
}

bool EnvPortable::FlushFiles(const std::vector<std::string>& paths) {
  std::vector<fs::path> hosts;
  for (const std::string& path : paths) {
    ImageLocation location = paths_.Locate(path);
    if (location.error != kErrorSuccess) return Fail(location.error);
    if (!location.exists) return Fail(kErrorFileNotFound);
    hosts.push_back(location.host);
  }
  uint32_t error = FlushHostFiles(hosts);
  return error == kErrorSuccess || Fail(error);
}

std::unique_ptr<FileSearch> EnvPortable::FindFirst(const std::string& pattern, FoundFile* first) {
  ImageLocation location = paths_.Locate(pattern, true);
  if (location.error != kErrorSuccess) {
    Fail(location.parentIsFile ? kErrorInvalidName : location.error);
    return nullptr;
  }
  // A trailing backslash always fails, and so does a drive's root itself.
  if (location.trailingSeparator || location.name.empty()) {
    Fail(kErrorFileNotFound);
    return nullptr;
  }
  const std::string& name = location.name;
  bool wildcard = HasWildcard(name);
  if (!wildcard) {
    // A plain name names one entry, looked up without reading the folder.
    ImageEntry entry;
    if (!paths_.Lookup(location.parent, name, &entry)) {
      Fail(kErrorFileNotFound);
      return nullptr;
    }
    *first = {entry.name, entry.directory};
    return std::make_unique<PortableSearch>(std::vector<FoundFile>{*first}, &lastError_);
  }
  std::vector<FoundFile> found;
  if (!location.inDriveRoot) {
    for (const char* dots : {".", ".."}) {
      if (WildcardMatch(name, dots)) found.push_back({dots, true});
    }
  }
  // Sorted as NTFS returns names: by their upper-case form, then by bytes.
  std::vector<std::pair<std::u16string, FoundFile>> sorted;
  for (ImageEntry& entry : paths_.List(location.parent)) {
    if (WildcardMatch(name, entry.name)) {
      std::u16string key = NameKey(entry.name);
      sorted.push_back({std::move(key), {std::move(entry.name), entry.directory}});
    }
  }
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second.name < b.second.name;
  });
  for (auto& [upper, entry] : sorted) found.push_back(std::move(entry));
  if (found.empty()) {
    Fail(kErrorFileNotFound);
    return nullptr;
  }
  *first = found.front();
  return std::make_unique<PortableSearch>(std::move(found), &lastError_);
}

std::unique_ptr<ReadableFile> EnvPortable::OpenReadable(const std::string& path) {
  ImageLocation location = paths_.Locate(path);
  uint32_t error = location.error;
  if (error == kErrorSuccess && !location.exists) error = kErrorFileNotFound;
  if (error == kErrorSuccess && location.directory) error = kErrorAccessDenied;
  if (error == kErrorSuccess && location.trailingSeparator) error = kErrorInvalidName;
  if (error != kErrorSuccess) {
    Fail(error);
    return nullptr;
  }
  std::FILE* file = OpenHostFile(location.host, "rb");
  if (file == nullptr) {
    Fail(WindowsErrorFromErrno(kErrorAccessDenied));
    return nullptr;
  }
  return std::make_unique<PortableReadableFile>(file, &lastError_);
}

std::unique_ptr<WritableFile> EnvPortable::CreateWritable(const std::string& path) {
  ImageLocation location = paths_.Locate(path);
  uint32_t error = location.error;
  if (error == kErrorSuccess) {
    if (location.exists && (location.directory || IsReadOnly(location.host))) {
      error = kErrorAccessDenied;
    } else if (location.trailingSeparator) {
      error = kErrorInvalidName;
    }
  }
  if (error != kErrorSuccess) {
    Fail(error);
    return nullptr;
  }
  std::FILE* file = OpenHostFile(location.host, "wb");
  paths_.Changed(location.host);
  if (file == nullptr) {
    Fail(WindowsErrorFromErrno(kErrorAccessDenied));
    return nullptr;
  }
  // CREATE_ALWAYS reports whether it replaced a file.
  lastError_ = location.exists ? kErrorAlreadyExists : kErrorSuccess;
  return std::make_unique<PortableWritableFile>(file, &lastError_);
}

bool EnvPortable::SystemMessage(uint32_t code, std::string* text) {
  uint32_t error = FindSystemMessage(code, text);
  return error == kErrorSuccess || Fail(error);
}

bool EnvPortable::ToOemText(std::string_view ansi, std::string* oem) {
  return Cp1252ToOem(ansi, oem, options_.oemCodePage);
}

bool EnvPortable::LoadTableString(uint32_t id, std::string* text) {
  return options_.strings != nullptr && options_.strings(id, text);
}

// --- Progress view: the console. ---

void EnvPortable::ShowProgress(const std::string& status, const std::string& detail) {
  view_.Show(status, detail);
}

void EnvPortable::ShowMessage(const std::string& text, uint32_t) {
  view_.Message(text);
}
