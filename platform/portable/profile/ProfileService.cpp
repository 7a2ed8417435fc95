#include "platform/portable/profile/ProfileService.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/WinError.h"
#include "platform/portable/files/HostFile.h"

namespace fs = std::filesystem;

namespace {

// A file written less than this long ago may change again without its
// last-write time moving (the file system's clock ticks coarsely), so its
// cache entry is checked against the content.
constexpr int64_t kTimeResolutionNs = 2'000'000'000;
constexpr size_t kCacheEntries = 8;
// The cache may hold this much file text; the last file read is kept
// whatever its size, so that no file is parsed twice in a row.
constexpr uintmax_t kCachedBytes = 24u << 20;

// What one look at a file tells: whether it is there, what it is, and what
// tells one version of it from another.
struct FileFacts {
  bool exists = false;
  bool directory = false;
  uintmax_t size = 0;
  int64_t writtenNs = 0;  // last-write time
  // The host's identity of the file: device and inode mixed, so that a file
  // renamed or copied over another one is told apart even with the same size
  // and time. 0 where the host has no such number.
  uint64_t identity = 0;
  bool settled = false;  // written long enough ago that a change moves the time
};

FileFacts Probe(const fs::path& file) {
  FileFacts facts;
#ifdef _WIN32
  std::error_code ec;
  fs::file_status status = fs::status(file, ec);
  facts.exists = fs::exists(status);
  facts.directory = fs::is_directory(status);
  if (!facts.exists || facts.directory) return facts;
  facts.size = fs::file_size(file, ec);
  if (ec) facts.size = 0;
  fs::file_time_type written = fs::last_write_time(file, ec);
  facts.writtenNs =
      std::chrono::duration_cast<std::chrono::nanoseconds>(written.time_since_epoch()).count();
#else
  // A link is never followed, even one made after the path was located.
  struct stat status;
  if (lstat(file.c_str(), &status) != 0 || S_ISLNK(status.st_mode)) return facts;
  facts.exists = true;
  facts.directory = S_ISDIR(status.st_mode);
  facts.size = static_cast<uintmax_t>(status.st_size);
  facts.writtenNs =
      static_cast<int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
  facts.identity =
      static_cast<uint64_t>(status.st_ino) * 1000003u ^ static_cast<uint64_t>(status.st_dev);
  int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  facts.settled = nowNs - facts.writtenNs > kTimeResolutionNs;
#endif
  return facts;
}

bool ReadBytes(const fs::path& file, uintmax_t size, std::string* bytes, uint32_t* error) {
  errno = 0;
  std::FILE* in = OpenHostFile(file, "rb");
  if (in == nullptr) {
    *error = WindowsErrorFromErrno(kErrorReadFault);
    return false;
  }
  bytes->resize(static_cast<size_t>(size));
  bytes->resize(std::fread(bytes->data(), 1, bytes->size(), in));
  std::fclose(in);
  return true;
}

// The value as GetPrivateProfileStringA hands it out: one pair of matching
// outer quotes removed, then cut to the buffer with a NUL after it.
uint32_t CopyValue(std::string_view value, char* buffer, uint32_t size) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  size_t count = std::min<size_t>(value.size(), size - 1);
  std::memcpy(buffer, value.data(), count);
  buffer[count] = '\0';
  return static_cast<uint32_t>(count);
}

// The caller's default loses its outer quotes and, unless it stands in for a
// key-name list, its trailing spaces (one stays when it is all spaces).
uint32_t CopyDefault(const char* def, bool trim, char* buffer, uint32_t size) {
  std::string_view text = def ? def : "";
  while (trim && text.size() > 1 && text.back() == ' ') text.remove_suffix(1);
  return CopyValue(text, buffer, size);
}

// A list of names, each followed by a NUL, closed by one more NUL; exactly
// those bytes are written. A list that needs more than size - 1 bytes is cut
// to size - 2 bytes and closed by two NULs, which fill the buffer.
uint32_t CopyList(const std::vector<std::string>& names, char* buffer, uint32_t size) {
  size_t total = 0;
  for (const std::string& name : names) total += name.size() + 1;
  bool fits = total + 2 <= size;
  size_t room = fits ? total : size >= 2 ? size - 2 : 0;
  size_t written = 0;
  for (const std::string& name : names) {
    if (written >= room) break;
    size_t count = std::min(name.size() + 1, room - written);
    std::memcpy(buffer + written, name.c_str(), count);
    written += count;
  }
  buffer[room] = '\0';
  if (!fits && room + 1 < size) buffer[room + 1] = '\0';
  return static_cast<uint32_t>(room);
}

// The entries of a section as GetPrivateProfileSectionA hands them out: each
// followed by a NUL, one more NUL after the last (two for an empty list). A
// list that needs more than size - 2 bytes is cut to size - 2 bytes and closed
// by two NULs; that sets error 122 unless only the closing NUL was missing.
uint32_t CopyEntries(const std::vector<std::string>& entries, char* buffer, uint32_t size,
                     uint32_t* error) {
  if (size < 2) {
    if (size == 1) buffer[0] = '\0';
    return 0;
  }
  size_t total = 0;
  for (const std::string& entry : entries) total += entry.size() + 1;
  if (total + 2 <= size) {
    size_t written = 0;
    for (const std::string& entry : entries) {
      std::memcpy(buffer + written, entry.c_str(), entry.size() + 1);
      written += entry.size() + 1;
    }
    buffer[total] = '\0';
    if (total == 0) buffer[1] = '\0';
    return static_cast<uint32_t>(total);
  }
  if (total + 1 != size) *error = kErrorInsufficientBuffer;
  return CopyList(entries, buffer, size);
}

// Every line of a section other than comments: "name=value" with both
// trimmed and the value as written (quotes kept), or the name alone for a
// line without "=".
std::vector<std::string> SectionEntries(const ProfileText& text, int index) {
  std::vector<std::string> entries;
  const ProfileSection& section = text.sections()[index];
  for (uint32_t i = section.firstLine; i < section.firstLine + section.lineCount; ++i) {
    const ProfileLine& line = text.lines()[i];
    std::string_view name = text.Text(line.name);
    if (!name.empty() && name.front() == ';') continue;
    std::string entry = text.ToAnsi(name);
    if (line.hasValue) entry += "=" + text.ToAnsi(text.Text(line.value));
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::string> SectionNames(const ProfileText& text) {
  std::vector<std::string> names;
  for (const ProfileSection& section : text.sections()) {
    if (section.name.size > 0) {
      names.push_back(text.ToAnsi(text.Text(section.name)));
    }
  }
  return names;
}

// Keys with a value, in file order; comment lines (";") are left out.
std::vector<std::string> KeyNames(const ProfileText& text, int index) {
  std::vector<std::string> names;
  const ProfileSection& section = text.sections()[index];
  for (uint32_t i = section.firstLine; i < section.firstLine + section.lineCount; ++i) {
    const ProfileLine& line = text.lines()[i];
    std::string_view name = text.Text(line.name);
    if (!line.hasValue || (!name.empty() && name.front() == ';')) continue;
    names.push_back(text.ToAnsi(name));
  }
  return names;
}

// What GetPrivateProfileStringA with the empty default would return, whole;
// false when the file has no such section, or no such key with a value.
bool ReadWhole(const ProfileText& text, const char* section, const char* key, std::string* out) {
  out->clear();
  std::vector<std::string> names;
  if (section == nullptr) {
    names = SectionNames(text);
  } else {
    int s = text.FindSection(text.FromAnsi(key ? TrimProfileBlanks(section) : section));
    if (s < 0) return false;
    if (key == nullptr) {
      names = KeyNames(text, s);
    } else {
      int line = text.FindLine(s, text.FromAnsi(TrimProfileBlanks(key)));
      if (line < 0 || !text.lines()[line].hasValue) return false;
      std::string value = text.ToAnsi(text.Text(text.lines()[line].value));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      *out = std::move(value);
      return true;
    }
  }
  if (!names.empty()) *out = std::move(names.front());
  return true;
}

// GetPrivateProfileIntA's number syntax: an optional sign, then "0x", "0o" or
// "0b" and digits of that base, or decimal digits; reading stops at the first
// other character and the result wraps modulo 2^32.
uint32_t ParseProfileInt(std::string_view text) {
  size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  uint32_t base = 10;
  if (text.substr(pos, 2) == "0x") base = 16;
  if (text.substr(pos, 2) == "0o") base = 8;
  if (text.substr(pos, 2) == "0b") base = 2;
  if (base != 10) pos += 2;
  uint32_t value = 0;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    uint32_t digit = c >= '0' && c <= '9'   ? c - '0'
                     : c >= 'a' && c <= 'f' ? c - 'a' + 10
                     : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                            : 99;
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

}  // namespace

std::shared_ptr<const ProfileText> ProfileService::Load(const fs::path& file, uint32_t* error) {
  FileFacts facts = Probe(file);
  if (!facts.exists) {
    std::error_code ec;
    fs::path parent = file.parent_path();
    *error =
        parent.empty() || fs::is_directory(parent, ec) ? kErrorFileNotFound : kErrorPathNotFound;
    return nullptr;
  }
  if (facts.directory) {
    *error = kErrorAccessDenied;
    return nullptr;
  }
  if (facts.size > kMaxFileBytes) {
    *error = kErrorNotEnoughMemory;
    return nullptr;
  }
  auto entry = std::find_if(cache_.begin(), cache_.end(),
                            [&](const CacheEntry& e) { return e.file == file; });
  bool same = entry != cache_.end() && entry->identity == facts.identity &&
              entry->size == facts.size && entry->writtenNs == facts.writtenNs;
  if (same && entry->settled) return entry->text;

  std::string bytes;
  if (!ReadBytes(file, facts.size, &bytes, error)) return nullptr;
  size_t hash = std::hash<std::string_view>()(bytes);
  // Without an identity a file replaced by another one of the same size and
  // time would go unnoticed: such files are always checked against their
  // content.
  bool settled = facts.identity != 0 && facts.settled;
  if (same && entry->hash == hash) {
    entry->settled = settled;
    return entry->text;
  }
  auto text = std::make_shared<const ProfileText>(ProfileText::Parse(bytes));
  ++parses_;
  if (entry != cache_.end()) cache_.erase(entry);
  // The newest entry goes last; the oldest go first while the cache holds
  // too many files or too much text.
  cache_.push_back(
      CacheEntry{file, facts.identity, facts.size, facts.writtenNs, hash, settled, text});
  uintmax_t cached = 0;
  for (const CacheEntry& e : cache_) cached += e.size;
  while (cache_.size() > 1 && (cache_.size() > kCacheEntries || cached > kCachedBytes)) {
    cached -= cache_.front().size;
    cache_.erase(cache_.begin());
  }
  return text;
}

void ProfileService::Forget(const fs::path& file) {
  std::erase_if(cache_, [&](const CacheEntry& e) { return e.file == file; });
}

uint32_t ProfileService::ReadString(const char* section, const char* key, const char* def,
                                    char* buffer, uint32_t size, const fs::path& file,
                                    uint32_t* error) {
  if (size == 0) return 0;
  auto text = file.empty() ? nullptr : Load(file, error);
  if (file.empty()) *error = kErrorPathNotFound;
  bool list = key == nullptr;
  if (!text) {
    if (section == nullptr) return buffer[0] = '\0';
    return CopyDefault(def, !list, buffer, size);
  }
  // The last error is 0 when the file has what was asked for and 2 when the
  // default stands in for a section or key it lacks. The service fails to
  // decode a UTF-8 file that holds nothing but its byte-order mark, and says
  // so instead.
  bool bomOnly = text->encoding() == ProfileEncoding::kUtf8 && text->empty();
  *error = bomOnly ? kErrorInvalidParameter : kErrorSuccess;
  uint32_t notFound = bomOnly ? kErrorInvalidParameter : kErrorFileNotFound;
  if (section == nullptr) return CopyList(SectionNames(*text), buffer, size);
  if (list) {
    // The key-name list takes the section name as given: blanks around it
    // count. An empty list, one whose first name is empty and one cut to
    // nothing give the default instead.
    int s = text->FindSection(text->FromAnsi(section));
    if (s >= 0 && size == 1) {
      *error = kErrorInvalidParameter;
      return buffer[0] = '\0';
    }
    std::vector<std::string> names;
    if (s >= 0) names = KeyNames(*text, s);
    if (s < 0) *error = notFound;
    if (names.empty() || names.front().empty() || size == 2) {
      return CopyDefault(def, false, buffer, size);
    }
    return CopyList(names, buffer, size);
  }
  int s = text->FindSection(text->FromAnsi(TrimProfileBlanks(section)));
  int line = s < 0 ? -1 : text->FindLine(s, text->FromAnsi(TrimProfileBlanks(key)));
  if (line < 0 || !text->lines()[line].hasValue) {
    *error = notFound;
    return CopyDefault(def, true, buffer, size);
  }
  return CopyValue(text->ToAnsi(text->Text(text->lines()[line].value)), buffer, size);
}

uint32_t ProfileService::ReadSection(const char* section, char* buffer, uint32_t size,
                                     const fs::path& file, uint32_t* error) {
  auto text = file.empty() ? nullptr : Load(file, error);
  if (file.empty()) *error = kErrorPathNotFound;
  std::vector<std::string> entries;
  if (text) {
    // A UTF-8 file of nothing but its byte-order mark fails to decode, as
    // for the other reads.
    bool bomOnly = text->encoding() == ProfileEncoding::kUtf8 && text->empty();
    *error = bomOnly ? kErrorInvalidParameter : kErrorSuccess;
    int s = section == nullptr ? -1 : text->FindSection(text->FromAnsi(section));
    if (s >= 0) entries = SectionEntries(*text, s);
  }
  return CopyEntries(entries, buffer, size, error);
}

uint32_t ProfileService::ReadInt(const char* section, const char* key, int32_t def,
                                 const fs::path& file, uint32_t* error) {
  auto text = file.empty() ? nullptr : Load(file, error);
  if (file.empty()) *error = kErrorPathNotFound;
  if (!text) return static_cast<uint32_t>(def);
  std::string value;
  *error = ReadWhole(*text, section, key, &value) ? kErrorSuccess : kErrorFileNotFound;
  if (value.empty()) return static_cast<uint32_t>(def);
  // The number is read from the first 29 characters only.
  return ParseProfileInt(std::string_view(value).substr(0, 29));
}

bool ProfileService::WriteString(const char* section, const char* key, const char* value,
                                 const fs::path& file, uint32_t* error) {
  std::error_code ec;
  if (file.empty()) {  // a path that names no host file
    *error = kErrorPathNotFound;
    return false;
  }
  fs::path parent = file.parent_path();
  if (!parent.empty() && !fs::is_directory(parent, ec)) {
    *error = kErrorPathNotFound;
    return false;
  }
  fs::file_status status = fs::status(file, ec);
  bool exists = fs::exists(status);
  if (fs::is_directory(status) || (exists && IsReadOnly(file))) {
    *error = kErrorAccessDenied;
    return false;
  }
  if (section == nullptr) {
    // With no section the call only flushes the service's cache: nothing to do.
    *error = exists && key == nullptr ? kErrorSuccess : kErrorFileNotFound;
    return false;
  }
  ProfileEdit edit;
  edit.kind = key == nullptr     ? ProfileEdit::kDeleteSection
              : value == nullptr ? ProfileEdit::kDeleteKey
                                 : ProfileEdit::kSetValue;
  if (!exists && edit.kind != ProfileEdit::kSetValue) {
    // There is nothing to delete, but the file is made, empty.
    return Replace(file, "", error);
  }
  std::shared_ptr<const ProfileText> text;
  if (exists) {
    text = Load(file, error);
    if (!text) return false;
  } else {
    text = std::make_shared<const ProfileText>(ProfileText::Parse(""));
  }
  // Names and the value are written without their leading blanks; trailing
  // ones stay in a new name or value (existing names are matched trimmed).
  auto spelled = [&](const char* given) {
    std::string_view v = given;
    while (!v.empty() && IsProfileBlank(v.front())) v.remove_prefix(1);
    return text->FromAnsi(v);
  };
  edit.section = spelled(section);
  if (key) edit.key = spelled(key);
  if (value) edit.value = spelled(value);
  std::string bytes;
  if (!text->Apply(edit, &bytes)) return true;
  Forget(file);
  return Replace(file, bytes, error);
}

bool ProfileService::Replace(const fs::path& file, const std::string& bytes, uint32_t* error) {
  uint32_t result = ReplaceHostFile(file, bytes);
  if (result != kErrorSuccess) *error = result;
  return result == kErrorSuccess;
}
