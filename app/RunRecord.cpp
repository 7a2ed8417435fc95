#include "app/RunRecord.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/WinError.h"
#include "platform/portable/files/HostFile.h"
#include "platform/portable/text/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader =
    "; How checklum ran on this image. checklum --restore undoes the runs with these\r\n"
    "; options, and a run with others is refused.\r\n";

// A value on one line: '%', CR and LF as %25, %0D and %0A.
std::string Escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '%' || c == '\r' || c == '\n') {
      static const char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[static_cast<unsigned char>(c) >> 4];
      out += kHex[c & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescaped(const std::string& value, std::string* out) {
  out->clear();
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      *out += value[i];
      continue;
    }
    unsigned code = 0;
    if (i + 2 >= value.size() ||
        std::from_chars(value.data() + i + 1, value.data() + i + 3, code, 16).ptr !=
            value.data() + i + 3) {
      return false;
    }
    *out += static_cast<char>(code);
    i += 2;
  }
  return true;
}

// Two host folders are one when the file system says so, else when their
// paths are.
bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec)) return true;
  return fs::absolute(a, ec).lexically_normal() == fs::absolute(b, ec).lexically_normal();
}

std::string DriveOption(char letter, const fs::path& folder) {
  return "--drive " + std::string(1, letter) + ":=" + folder.string();
}

}  // namespace

RunRecord RunRecord::Of(const PortableOptions& options, const std::string& registry) {
  RunRecord record;
  record.windowsDirectory = options.windowsDirectory;
  record.programPath = options.programPath;
  record.oemCodePage = options.oemCodePage;
  record.registry = registry;
  record.drives = options.drives;
  return record;
}

bool RunRecord::Read(const fs::path& image, RunRecord* record, std::string* error) {
  error->clear();
  const fs::path file = image / kFileName;
  std::error_code ec;
  fs::file_status status = fs::symlink_status(file, ec);
  if (!fs::exists(status)) return false;
  if (!fs::is_regular_file(status)) {
    *error = file.string() + ": not a plain file";
    return false;
  }
  // A record is a few short lines: anything large is no record of ours.
  uintmax_t size = fs::file_size(file, ec);
  std::ifstream in(file, std::ios::binary);
  std::string text(ec || size > (1 << 16) ? 0 : size, '\0');
  if (ec || size > (1 << 16) || !in.read(text.data(), static_cast<std::streamsize>(size))) {
    *error = file.string() + ": cannot be read";
    return false;
  }
  *record = RunRecord{};
  std::istringstream lines(text);
  std::string line, value;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    size_t equals = line.find('=');
    std::string name = line.substr(0, equals);
    bool read = equals != std::string::npos && Unescaped(line.substr(equals + 1), &value);
    if (read && name == "windows-dir") {
      record->windowsDirectory = value;
    } else if (read && name == "program") {
      record->programPath = value;
    } else if (read && name == "oem-code-page") {
      auto [end, failed] =
          std::from_chars(value.data(), value.data() + value.size(), record->oemCodePage);
      read = failed == std::errc() && end == value.data() + value.size() &&
             IsOemCodePage(record->oemCodePage);
    } else if (read && name == "registry") {
      record->registry = value;
      read = value == kRegistryFile || value == kRegistryHive;
    } else if (read && name == "run") {
      record->unfinished = value == "unfinished";
      read = record->unfinished || value == "finished";
    } else if (read && name == "drive") {
      char letter = value.size() > 3 ? static_cast<char>(value[0] & ~0x20) : 0;
      read = letter >= 'A' && letter <= 'Z' && value[1] == ':' && value[2] == '=' &&
             record->drives.emplace(letter, value.substr(3)).second;
    } else {
      read = false;
    }
    if (!read) {
      *error = file.string() + ", line " + std::to_string(number) + ": not understood";
      return false;
    }
  }
  if (record->programPath.empty() || record->windowsDirectory.empty() || record->oemCodePage == 0 ||
      record->registry.empty()) {
    *error = file.string() + ": incomplete";
    return false;
  }
  return true;
}

bool RunRecord::Write(const fs::path& image, std::string* error) const {
  std::string text = kHeader;
  text += "windows-dir=" + Escaped(windowsDirectory) + "\r\n";
  text += "program=" + Escaped(programPath) + "\r\n";
  text += "oem-code-page=" + std::to_string(oemCodePage) + "\r\n";
  text += "registry=" + registry + "\r\n";
  text += std::string("run=") + (unfinished ? "unfinished" : "finished") + "\r\n";
  for (const auto& [letter, folder] : drives) {
    text += "drive=" + std::string(1, letter) + ":=" + Escaped(folder.string()) + "\r\n";
  }
  const fs::path file = image / kFileName;
  if (ReplaceHostFile(file, text) != kErrorSuccess || !SyncHostFolder(image)) {
    *error = file.string() + ": cannot be written";
    return false;
  }
  return true;
}

std::string RunRecord::Difference(const RunRecord& other) const {
  if (other.windowsDirectory != windowsDirectory) return "--windows-dir " + windowsDirectory;
  if (other.programPath != programPath) return "--program " + programPath;
  if (other.oemCodePage != oemCodePage) return "--oem-code-page " + std::to_string(oemCodePage);
  if (other.registry != registry) {
    return registry == kRegistryHive ? "the SOFTWARE hive as its registry"
                                     : "IMAGE/HKLM.reg as its registry";
  }
  for (const auto& [letter, folder] : drives) {
    auto it = other.drives.find(letter);
    if (it == other.drives.end() || !SameFolder(it->second, folder)) {
      return DriveOption(letter, folder);
    }
  }
  for (const auto& [letter, folder] : other.drives) {
    if (drives.count(letter) == 0) return "no " + DriveOption(letter, folder);
  }
  return {};
}

void RunRecord::ApplyTo(PortableOptions* options, const Given& given) const {
  if (!given.windowsDirectory) options->windowsDirectory = windowsDirectory;
  if (!given.programPath) options->programPath = programPath;
  if (!given.oemCodePage) options->oemCodePage = oemCodePage;
  if (!given.drives) options->drives = drives;
}
