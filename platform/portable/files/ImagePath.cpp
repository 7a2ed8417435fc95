#include "platform/portable/files/ImagePath.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/WinError.h"
#include "platform/portable/text/Text.h"

namespace fs = std::filesystem;

namespace {

enum class Kind { kFile, kDirectory, kRefused };

struct HostEntry {
  std::string name;  // as the machine sees it, in code page 1252
  fs::path host;     // as the host stores it
  Kind kind = Kind::kRefused;
};

// Host names are UTF-8; the machine's names are code page 1252.
fs::path HostName(const std::string& name) {
  std::string utf8 = Cp1252ToUtf8(name);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

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

Kind KindOf(const fs::file_status& status) {
  if (fs::is_directory(status)) return Kind::kDirectory;
  if (fs::is_regular_file(status)) return Kind::kFile;
  return Kind::kRefused;  // symbolic links, pipes, devices, sockets
}

std::vector<HostEntry> ReadFolder(const fs::path& folder) {
  std::vector<HostEntry> entries;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    HostEntry entry;
    entry.host = it->path().filename();
    std::string utf8;
    try {
      std::u8string name = entry.host.u8string();
      utf8.assign(name.begin(), name.end());
    } catch (const std::exception&) {
      continue;  // a name that is no Unicode text
    }
    // A name that is not UTF-8, or holds a character code page 1252 lacks,
    // has no name the A functions could spell ('?' stands in, which no name
    // may hold).
    if (FirstMalformedUtf8(utf8) != std::string::npos) continue;
    entry.name = Utf8ToCp1252(utf8);
    if (!IsReachableName(entry.name)) continue;
    std::error_code statusError;
    entry.kind = KindOf(it->symlink_status(statusError));
    if (statusError) continue;
    entries.push_back(std::move(entry));
  }
  return entries;
}

// The entry of `folder` named `name` in any letter case: the one spelled
// exactly so when there is one (a host folder may hold several), else the
// first in byte order.
bool FindEntry(const fs::path& folder, const std::string& name, HostEntry* found) {
#ifndef _WIN32
  // A host that tells letter case apart finds an exactly spelled name without
  // reading the whole folder (which matters in folders of many jobs).
  std::error_code ec;
  fs::path host = HostName(name);
  fs::file_status status = fs::symlink_status(folder / host, ec);
  if (!ec && fs::exists(status)) {
    *found = {name, host, KindOf(status)};
    return true;
  }
#endif
  bool any = false;
  for (HostEntry& entry : ReadFolder(folder)) {
    if (!SameName(entry.name, name)) continue;
    if (entry.name == name) {
      *found = std::move(entry);
      return true;
    }
    if (!any || entry.name < found->name) *found = std::move(entry);
    any = true;
  }
  return any;
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

ImagePath::ImagePath(fs::path image, const std::string& currentDirectory)
    : image_(std::move(image)) {
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
  fs::path folder = image_ / std::string(1, parsed.drive);
  Walk walk = IsRealFolder(folder)  ? Walk::kFound
              : ExistsAtAll(folder) ? Walk::kRefused
                                    : Walk::kMissing;
  size_t folders = parsed.parts.empty() ? 0 : parsed.parts.size() - 1;
  for (size_t i = 0; i < folders && walk != Walk::kRefused; ++i) {
    const std::string& part = parsed.parts[i];
    HostEntry entry;
    if (walk == Walk::kMissing || !FindEntry(folder, part, &entry)) {
      walk = Walk::kMissing;
      folder /= HostName(part);
    } else if (entry.kind == Kind::kRefused) {
      walk = Walk::kRefused;
    } else {
      folder /= entry.host;
      if (entry.kind == Kind::kFile) {
        walk = Walk::kMissing;
        location.parentIsFile = i + 1 == folders;
      }
    }
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
  if (pattern || !FindEntry(folder, location.name, &entry)) return location;
  if (entry.kind == Kind::kRefused) {
    location.error = kErrorAccessDenied;
    location.host.clear();
    return location;
  }
  location.host = folder / entry.host;
  location.exists = true;
  location.directory = entry.kind == Kind::kDirectory;
  return location;
}

std::vector<ImageEntry> ImagePath::List(const fs::path& folder) {
  std::vector<ImageEntry> entries;
  for (const HostEntry& entry : ReadFolder(folder)) {
    if (entry.kind != Kind::kRefused)
      entries.push_back({entry.name, entry.kind == Kind::kDirectory});
  }
  return entries;
}
