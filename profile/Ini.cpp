#include "profile/Ini.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "messages/Messages.h"
#include "platform/ProfileNames.h"
#include "platform/WinError.h"

namespace {

constexpr uint32_t kValueBuffer = 4096;
constexpr uint32_t kNameListBuffer = 4096;
// A key-name list larger than this is not read further; no profile the
// service accepts comes near it.
constexpr uint32_t kNameListLimit = 1u << 27;

}  // namespace

std::string ProfileFullPath(Env& env, const std::string& path) {
  std::string located = path;
  std::string windowsDirectory;
  if (path.find_first_of("\\/:") == std::string::npos && env.WindowsDirectory(&windowsDirectory)) {
    bool root = !windowsDirectory.empty() && windowsDirectory.back() == '\\';
    located = windowsDirectory + (root ? "" : "\\") + path;
  }
  std::string full;
  return env.FullPathName(located, &full) ? full : path;
}

CIni::CIni(Env& env) : env_(env) {}
CIni::CIni(Env& env, std::string path) : env_(env), path_(std::move(path)) {}

void CIni::SetPath(std::string path) {
  path_ = std::move(path);
}

bool CIni::Readable(uint32_t* error) const {
  // A read of a name no profile holds: it finds nothing in a readable file
  // (error 0 or 2), in a missing one (2 or 3) and in one of nothing but a
  // UTF-8 byte-order mark (87); any other error says the file was not read.
  char buffer[2];
  env_.SetLastErrorCode(kErrorSuccess);
  env_.ProfileReadString("\x01", "\x01", "", buffer, sizeof buffer, path_);
  *error = env_.LastError();
  return *error == kErrorSuccess || *error == kErrorFileNotFound || *error == kErrorPathNotFound ||
         *error == kErrorInvalidParameter;
}

std::string CIni::ReadString(const std::string& section, const std::string& key,
                             const char* def) const {
  std::vector<char> buffer(kValueBuffer);
  uint32_t length =
      env_.ProfileReadString(section.c_str(), key.c_str(), "", buffer.data(), kValueBuffer, path_);
  if (length == 0) return def ? def : "";
  return std::string(buffer.data(), strnlen(buffer.data(), std::min(length, kValueBuffer - 1)));
}

uint32_t CIni::ReadInt(const std::string& section, const std::string& key, int32_t def) const {
  return env_.ProfileReadInt(section.c_str(), key.c_str(), def, path_);
}

int CIni::ReadBool(const std::string& section, const std::string& key, int32_t def) const {
  return ReadInt(section, key, def) != 0 ? 1 : 0;
}

double CIni::ReadDouble(const std::string& section, const std::string& key, double def) const {
  char text[16];
  std::snprintf(text, sizeof text, "%g", def);
  return std::atof(ReadString(section, key, text).c_str());
}

// The list is read into a buffer that grows until the whole list fits, so
// that no name is lost or cut short however long the section is. A count of
// size - 2 may mean a cut list, so only a smaller one is taken as whole.
// Empty names (lines such as "=value", which no read by name tells apart)
// are passed over and the walk goes on to the list's end, so that the keys
// after them are not lost.
bool CIni::ReadNameList(const std::string& section, StringList& names) const {
  std::vector<char> buffer;
  uint32_t size = kNameListBuffer, length = 0;
  for (;;) {
    buffer.assign(size, '\0');
    length = env_.ProfileReadString(section.c_str(), nullptr, "", buffer.data(), size, path_);
    if (length == 0) return false;
    if (length < size - 2) break;
    if (size >= kNameListLimit) {
      length = size - 2;
      while (length > 0 && buffer[length - 1] != '\0') --length;  // drop the cut name
      break;
    }
    size *= 2;
  }
  for (uint32_t pos = 0; pos < length;) {
    size_t count = strnlen(buffer.data() + pos, length - pos);
    if (count > 0) names.emplace_back(buffer.data() + pos, count);
    pos += static_cast<uint32_t>(count) + 1;
  }
  return true;
}

int CIni::ReadKeyNames(const std::string& section, StringList& names) const {
  StringList found;
  if (!ReadNameList(section, found)) return 0;
  names.insert(names.end(), found.begin(), found.end());
  names.shrink_to_fit();
  return static_cast<int>(names.size());
}

// The section is read whole in one call of the service, however long, and
// each name takes the value a read by that name gives: the first line of the
// name in any letter case, one pair of outer quotes removed, at most 4095
// characters. Lines with an empty name are passed over, also at the top.
int CIni::ReadSection(const std::string& section, SectionMap& map) const {
  std::vector<char> buffer;
  uint32_t size = kNameListBuffer, length = 0;
  for (;;) {
    buffer.assign(size, '\0');
    length = env_.ProfileReadSection(section.c_str(), buffer.data(), size, path_);
    if (length < size - 2 || size >= kNameListLimit) break;
    size *= 2;
  }
  std::vector<std::pair<std::string_view, std::string_view>> entries;
  std::unordered_map<std::string, std::string_view> firstValues;
  for (uint32_t pos = 0; pos < length;) {
    std::string_view entry(buffer.data() + pos, strnlen(buffer.data() + pos, length - pos));
    pos += static_cast<uint32_t>(entry.size()) + 1;
    size_t equals = entry.find('=');
    if (equals == std::string_view::npos || equals == 0) continue;
    std::string_view name = entry.substr(0, equals), value = entry.substr(equals + 1);
    firstValues.try_emplace(ProfileNameKey(name), value);
    entries.emplace_back(name, value);
  }
  if (entries.empty()) return 0;
  for (const auto& [name, unused] : entries) {
    std::string_view value = firstValues[ProfileNameKey(name)];
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    map[std::string(name)] = value.substr(0, kValueBuffer - 1);
  }
  return static_cast<int>(map.size());
}

bool CIni::Write(const char* section, const char* key, const char* value) {
  bool written = env_.ProfileWriteString(section, key, value, path_);
  if (!written) {
    uint32_t code = env_.LastError();
    std::string errorText, message;
    GetSystemErrorText(env_, errorText, code);
    AppendTableMessage(env_, message, kMsgErrorWritingProfile, path_.c_str(), errorText.c_str());
    env_.ShowMessage(message, kMbOk | kMbIconExclamation);
  }
  dirty_ = 1;
  return written;
}

void CIni::WriteString(const std::string& section, const std::string& key,
                       const std::string& value) {
  Write(section.c_str(), key.c_str(), value.c_str());
}

void CIni::WriteInt(const std::string& section, const std::string& key, int32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%d", value);
  WriteString(section, key, text);
}

void CIni::WriteBool(const std::string& section, const std::string& key, int32_t value) {
  WriteInt(section, key, value);
}

void CIni::WriteDouble(const std::string& section, const std::string& key, double value) {
  char text[20];
  std::snprintf(text, sizeof text, "%g", value);
  WriteString(section, key, text);
}

void CIni::DeleteKey(const std::string& section, const char* key) {
  env_.ProfileWriteString(section.c_str(), key, nullptr, path_);
  dirty_ = 1;
}

void CIni::Flush() {
  env_.ProfileWriteString(nullptr, nullptr, nullptr, path_);
  dirty_ = 0;
}

// Renaming to a name the service takes for the same one (other letter case
// or blanks) would copy each key onto itself and then delete it, so it
// changes nothing.
void CIni::RenameSection(const std::string& from, const std::string& to) {
  dirty_ = 1;
  StringList names;
  if (SameProfileNameTrimmed(from, to) || !ReadNameList(from, names)) return;
  bool allMoved = true;
  for (const std::string& name : names) {
    if (Write(to.c_str(), name.c_str(), ReadString(from, name).c_str())) {
      DeleteKey(from, name.c_str());
    } else {
      allMoved = false;
    }
  }
  if (allMoved) DeleteKey(from, nullptr);
}

void CIni::RenameKey(const std::string& section, const std::string& from, const std::string& to) {
  dirty_ = 1;
  if (SameProfileNameTrimmed(from, to)) return;
  if (Write(section.c_str(), to.c_str(), ReadString(section, from).c_str())) {
    DeleteKey(section, from.c_str());
  }
}

void CIni::WriteSection(const std::string& section, const SectionMap& map) {
  for (const auto& [key, value] : map) WriteString(section, key, value);
  dirty_ = 1;
}
