#include "platform/portable/files/ImagePath.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/WinError.h"
#include "platform/portable/text/Text.h"

namespace fs = std::filesystem;

namespace {

bool HasForbiddenCharacter(const std::string& part) {
  for (char c : part) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) return true;
  }
  return false;
}

// CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9, also with an extension.
bool IsDeviceName(const std::string& part) {
  std::u16string base = NameKey(part.substr(0, part.find('.')));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL") return true;
  return base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")) &&
         base[3] >= u'1' && base[3] <= u'9';
}

// A host name that a Windows path can name exactly.
bool IsReachableName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && !HasForbiddenCharacter(name) &&
         name.back() != '.' && name.back() != ' ' && !IsDeviceName(name);
}

bool IsRealFolder(const fs::path& folder) {
  std::error_code ec;
  return fs::is_directory(fs::symlink_status(folder, ec));
}

bool ExistsAtAll(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

}  // namespace

ImagePath::ImagePath(fs::path image, std::map<char, fs::path> drives,
                     const std::string& currentDirectory)
    : image_(std::move(image)), drives_(std::move(drives)) {
  Parsed parsed;
  if (IsAbsolutePath(currentDirectory) && Parse(currentDirectory, false, &parsed) == kErrorSuccess)
    current_ = parsed;
}

uint32_t ImagePath::Parse(const std::string& path, bool pattern, Parsed* parsed) const {
  std::string text = path;
  std::replace(text.begin(), text.end(), '/', '\\');
  if (text.empty()) return kErrorPathNotFound;
  // \\server\share, \\.\device and \\?\ paths lead out of the machine's disks.
  if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') return kErrorPathNotFound;
  Parsed result;
  size_t pos = 0;
  if (text.size() >= 2 && text[1] == ':' && IsDriveLetter(text[0])) {
    result.drive = static_cast<char>(text[0] & ~0x20);  // the letter in capitals
    pos = 2;
    // "D:name" is relative to the current directory when that is on D:.
    if ((pos >= text.size() || text[pos] != '\\') && result.drive == current_.drive) {
      result.parts = current_.parts;
    }
  } else if (text[0] == '\\') {
    result.drive = current_.drive;
  } else {
    result = current_;
  }
  result.trailingSeparator = text.size() > pos && text.back() == '\\';

  std::vector<std::string> given;
  for (size_t start = pos; start <= text.size();) {
    size_t end = text.find('\\', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) given.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  for (size_t i = 0; i < given.size(); ++i) {
    std::string part = given[i];
    if (part == ".") continue;
    if (part == "..") {
      if (!result.parts.empty()) result.parts.pop_back();
      continue;
    }
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    if (part.empty()) continue;
    if (!(pattern && i + 1 == given.size())) {
      if (HasForbiddenCharacter(part)) return kErrorInvalidName;
      if (IsDeviceName(part)) return kErrorPathNotFound;
    }
    result.parts.push_back(part);
  }
  *parsed = std::move(result);
  return kErrorSuccess;
}

uint32_t ImagePath::FullPath(const std::string& windowsPath, std::string* fullPath) const {
  Parsed parsed;
  uint32_t error = Parse(windowsPath, false, &parsed);
  if (error != kErrorSuccess) return error;
  std::string full(1, parsed.drive);
  full += ":";
  for (const std::string& part : parsed.parts) full += "\\" + part;
  if (parsed.parts.empty() || parsed.trailingSeparator) full += "\\";
  *fullPath = std::move(full);
  return kErrorSuccess;
}

ImageLocation ImagePath::Locate(const std::string& windowsPath, bool pattern) const {
  ImageLocation location;
  Parsed parsed;
  location.error = Parse(windowsPath, pattern, &parsed);
  if (location.error != kErrorSuccess) return location;
  location.trailingSeparator = parsed.trailingSeparator;

  enum class Walk { kFound, kMissing, kRefused };
  size_t folders = parsed.parts.empty() ? 0 : parsed.parts.size() - 1;
  // The folder that holds the last part, as spelled: where several host
  // entries differ in letter case only, each spelling finds its own.
  std::string key(1, parsed.drive);
  for (size_t i = 0; i < folders; ++i) (key += '\\') += parsed.parts[i];
  fs::path folder;
  Walk walk = Walk::kFound;
  int64_t writtenNs = 0;
  bool known = KnownFolder(key, &folder, &writtenNs);
  if (!known) {
    folder = DriveFolder(parsed.drive);
    walk = IsRealFolder(folder)  ? Walk::kFound
           : ExistsAtAll(folder) ? Walk::kRefused
                                 : Walk::kMissing;
    for (size_t i = 0; i < folders && walk != Walk::kRefused; ++i) {
      const std::string& part = parsed.parts[i];
      HostEntry entry;
      if (walk == Walk::kMissing || !index_.Find(folder, part, &entry)) {
        walk = Walk::kMissing;
        folder /= HostName(part);
      } else if (entry.kind == HostKind::kRefused) {
        walk = Walk::kRefused;
      } else {
        folder /= entry.host;
        if (entry.kind == HostKind::kFile) {
          walk = Walk::kMissing;
          location.parentIsFile = i + 1 == folders;
        }
      }
    }
    if (walk == Walk::kFound) RememberFolder(key, folder);
  }
  if (walk != Walk::kFound) {
    location.error = kErrorPathNotFound;
    if (walk == Walk::kMissing) {
      location.host = parsed.parts.empty() ? folder : folder / HostName(parsed.parts.back());
    }
    return location;
  }

  location.parent = folder;
  location.inDriveRoot = folders == 0;
  if (parsed.parts.empty()) {  // the drive's root
    location.host = folder;
    location.exists = location.directory = true;
    return location;
  }
  location.name = parsed.parts.back();
  location.host = folder / HostName(location.name);
  HostEntry entry;
  if (pattern || !index_.Find(folder, location.name, &entry, known ? &writtenNs : nullptr))
    return location;
  if (entry.kind == HostKind::kRefused) {
    location.error = kErrorAccessDenied;
    location.host.clear();
    return location;
  }
  location.host = folder / entry.host;
  location.exists = true;
  location.directory = entry.kind == HostKind::kDirectory;
  return location;
}

fs::path ImagePath::DriveFolder(char letter) const {
  auto mapped = drives_.find(letter);
  return mapped != drives_.end() ? mapped->second : image_ / std::string(1, letter);
}

bool ImagePath::Lookup(const fs::path& folder, const std::string& name, ImageEntry* found) const {
  HostEntry entry;
  if (!index_.Find(folder, name, &entry) || entry.kind == HostKind::kRefused) return false;
  *found = {entry.name, entry.kind == HostKind::kDirectory};
  return true;
}

std::vector<ImageEntry> ImagePath::List(const fs::path& folder) const {
  std::vector<ImageEntry> entries;
  for (HostEntry& entry : index_.Entries(folder)) {
    if (entry.kind != HostKind::kRefused && IsReachableName(entry.name)) {
      entries.push_back({std::move(entry.name), entry.kind == HostKind::kDirectory});
    }
  }
  return entries;
}

bool ImagePath::KnownFolder(const std::string& key, fs::path* folder, int64_t* writtenNs) const {
  auto it = known_.find(key);
  if (it == known_.end()) return false;
  HostFolderId id;
  if (!IdentifyHostFolder(it->second.host, &id, writtenNs) || !(id == it->second.id)) {
    known_.erase(it);  // replaced or gone: walked again from the drive down
    return false;
  }
  *folder = it->second.host;
  return true;
}

void ImagePath::RememberFolder(const std::string& key, const fs::path& folder) const {
  HostFolderId id;
  if (!IdentifyHostFolder(folder, &id)) return;
  known_[key] = {folder, id};
  knownHosts_.insert(folder.native());
}

void ImagePath::FolderMoved(const fs::path& host) const {
  index_.Forget(host);
  known_.clear();
  knownHosts_.clear();
}

void ImagePath::Changed(const fs::path& host, HostChange now) const {
  index_.Changed(host, now);
  // A folder made or removed here may be one the walk would now find
  // elsewhere: the remembered folders are walked again.
  if (knownHosts_.count(host.native()) != 0) {
    known_.clear();
    knownHosts_.clear();
  }
}
