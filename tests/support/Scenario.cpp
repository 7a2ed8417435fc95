#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/CheckLUMDlg.h"
#include "app/RestoreImage.h"
#include "messages/Messages.h"
#include "platform/portable/registry/RegistryFile.h"
#include "platform/portable/registry/RegistryImport.h"
#include "platform/portable/text/Text.h"

namespace fs = std::filesystem;

Scenario::Scenario() : root(dir_.path()) {
  dir_.MakeFolder("C/WINDOWS");
  dir_.MakeFolder("C/Setup");
  options.image = root;
}

Scenario::~Scenario() = default;

std::string Scenario::Relative(const std::string& windowsPath) {
  // Tests name paths as C:\A\B in code page 1252; letter case in the tests
  // matches the files. The image names its files in UTF-8.
  std::string relative = "C";
  for (char c : windowsPath.substr(windowsPath.rfind(':') + 1)) relative += c == '\\' ? '/' : c;
  return Cp1252ToUtf8(relative);
}

fs::path Scenario::Host(const std::string& windowsPath) const {
  return dir_ / Relative(windowsPath);
}

void Scenario::Write(const std::string& windowsPath, const std::string& content) {
  dir_.Write(Relative(windowsPath), content);
}

void Scenario::MakeDirectory(const std::string& windowsPath) {
  dir_.MakeFolder(Relative(windowsPath));
}

std::optional<std::string> Scenario::Read(const std::string& windowsPath) const {
  return dir_.Read(Relative(windowsPath));
}

bool Scenario::Exists(const std::string& windowsPath) const {
  return dir_.Exists(Relative(windowsPath));
}

std::vector<std::string> Scenario::List(const std::string& windowsPath) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(Host(windowsPath), ec)) {
    std::u8string name = entry.path().filename().u8string();
    names.push_back(Utf8ToCp1252(std::string(name.begin(), name.end())));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::map<std::string, std::string> Scenario::Files() const {
  std::map<std::string, std::string> files;
  fs::path drive = root / "C";
  for (const auto& entry : fs::recursive_directory_iterator(drive)) {
    if (!entry.is_regular_file()) continue;
    std::u8string utf8 = fs::relative(entry.path(), drive).generic_u8string();
    std::string relative(utf8.begin(), utf8.end());
    for (char& c : relative) {
      if (c == '/') c = '\\';
    }
    std::ifstream in(entry.path(), std::ios::binary);
    files["C:\\" + Utf8ToCp1252(relative)] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

EnvPortable& Scenario::env() {
  if (!env_) {
    options.progress = &progress_;
    options.messages = &messages_;
    options.caption = FormatTableString(kMsgProgramName);
    options.strings = FindTableString;
    env_ = std::make_unique<EnvPortable>(options);
    std::string error;
    EXPECT_TRUE(env_->LoadRegistry(&error)) << error;
  }
  return *env_;
}

void Scenario::Reset() {
  if (env_) {
    std::string error;
    EXPECT_TRUE(env_->SaveRegistry(&error)) << error;
  }
  env_.reset();
}

std::optional<RegValue> Scenario::Value(const std::string& keyPath, const char* name) {
  RegKey key = 0;
  if (env().OpenKey(kHKeyLocalMachine, keyPath.c_str(), &key) != 0) return std::nullopt;
  RegValue value;
  uint32_t size = 0;
  if (env().QueryValue(key, name, &value.type, nullptr, &size) != 0) {
    env().CloseKey(key);
    return std::nullopt;
  }
  value.data.assign(size, '\0');
  env().QueryValue(key, name, &value.type, reinterpret_cast<uint8_t*>(value.data.data()), &size);
  value.data.resize(size);
  env().CloseKey(key);
  return value;
}

std::optional<std::string> Scenario::Text(const std::string& keyPath, const char* name) {
  std::optional<RegValue> value = Value(keyPath, name);
  if (!value || value->type != kRegSz) return std::nullopt;
  if (!value->data.empty() && value->data.back() == '\0') value->data.pop_back();
  return value->data;
}

bool Scenario::KeyExists(const std::string& keyPath) {
  RegKey key = 0;
  if (env().OpenKey(kHKeyLocalMachine, keyPath.c_str(), &key) != 0) return false;
  env().CloseKey(key);
  return true;
}

void Scenario::CreateKey(const std::string& keyPath) {
  RegKey key = 0;
  ASSERT_EQ(env().CreateKey(kHKeyLocalMachine, keyPath.c_str(), &key, nullptr), 0u);
  env().CloseKey(key);
}

bool Scenario::RunWorkStep() {
  CCheckLUMDlg dlg(env());
  return dlg.RunWorkStep();
}

void WriteTypicalInstallation(Scenario& s) {
  s.Write("C:\\WINDOWS\\lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
  s.Write("C:\\OLD\\lum.ini",
          "[Settings]\r\nPort=515\r\nLanguage=English\r\n"
          "[LogOptions]\r\nLogLevel=2\r\n"
          "[Security]\r\nCheckHosts=1\r\n"
          "[WindowPos]\r\nDesktop size=640,480\r\nMain=10,10,600,400\r\n"
          "[CurrentJobs]\r\nC:\\OLD\\Q\\cf1.ini=1\r\nC:\\OLD\\Q\\cf2.ini=1\r\n");
  s.Write("C:\\OLD\\Q\\cf1.ini", "[Settings]\r\nControlFileName=J1\r\nSeqno=1\r\n");
  s.Write("C:\\OLD\\Q\\cf2.ini", "[Settings]\r\nControlFileName=J2\r\nSeqno=2\r\n");
}

namespace {

// Splits one argument off `line` at `pos` the way cmd does for copy: a quoted
// argument runs to its closing quote, an unquoted one to the next blank.
bool NextArgument(const std::string& line, size_t& pos, std::string* argument) {
  while (pos < line.size() && line[pos] == ' ') ++pos;
  if (pos >= line.size()) return false;
  argument->clear();
  bool quoted = false;
  for (; pos < line.size(); ++pos) {
    char c = line[pos];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      break;
    } else {
      *argument += c;
    }
  }
  return !quoted;
}

std::string ExpandPercents(const std::string& line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '%') {
      if (i + 1 < line.size() && line[i + 1] == '%') {
        out += '%';
        ++i;
      }
      // A lone % would start a variable reference: dropped, as cmd does in
      // a batch file for an undefined one.
      continue;
    }
    out += line[i];
  }
  return out;
}

bool IsAbsolute(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
}

}  // namespace

bool ParseRestoreScript(const std::string& script,
                        std::vector<std::pair<std::string, std::string>>* lines) {
  lines->clear();
  size_t start = 0;
  while (start < script.size()) {
    size_t end = script.find("\r\n", start);
    // A last line without its line end was torn by a power cut: the move it
    // stood for never happened (its source was not yet deleted).
    if (end == std::string::npos) return true;
    std::string line = ExpandPercents(OemToCp1252(script.substr(start, end - start), kCodePage437));
    start = end + 2;
    const std::string command = "copy/y ";
    if (line.compare(0, command.size(), command) != 0) return false;
    size_t pos = command.size();
    std::string from, to, extra;
    if (!NextArgument(line, pos, &from) || !NextArgument(line, pos, &to)) return false;
    if (NextArgument(line, pos, &extra)) return false;
    lines->emplace_back(from, to);
  }
  return true;
}

RestoreRun RunRestoreScript(Env& env, const std::string& backupDirectory,
                            const std::string& script) {
  RestoreRun run;
  std::vector<std::pair<std::string, std::string>> lines;
  if (!ParseRestoreScript(script, &lines)) return RestoreRun{false, 0, 0};
  for (auto& [from, to] : lines) {
    if (!IsAbsolute(from)) from = backupDirectory + "\\" + from;
    ++(env.CopyFileTo(from, to, false) ? run.copied : run.failed);
  }
  return run;
}

std::vector<std::string> RestoreChain(const Scenario& s, const std::string& backupDirectory) {
  std::vector<std::string> chain;
  if (s.Exists(backupDirectory + "\\restore.bat")) chain.push_back("restore.bat");
  int kept = 0;
  while (s.Exists(backupDirectory + "\\restore.bat." + std::to_string(kept + 1))) ++kept;
  for (int n = kept; n >= 1; --n) chain.push_back("restore.bat." + std::to_string(n));
  return chain;
}

bool RunRestoreChain(Scenario& s, const std::string& backupDirectory) {
  bool understood = true;
  for (const std::string& name : RestoreChain(s, backupDirectory)) {
    auto script = s.Read(backupDirectory + "\\" + name);
    if (script) understood &= RunRestoreScript(s.env(), backupDirectory, *script).understood;
  }
  return understood;
}

std::map<std::string, std::string> OldFiles(const Scenario& s, const std::string& setup) {
  std::map<std::string, std::string> files;
  for (const auto& [path, content] : s.Files()) {
    if (path.rfind(setup + "\\Backup\\", 0) != 0 && path.rfind(setup + "\\Spool\\", 0) != 0) {
      files[path] = content;
    }
  }
  return files;
}

void ExpectNothingLost(Scenario& s, const std::map<std::string, std::string>& before,
                       const std::string& setup) {
  const std::string backup = setup + "\\Backup";
  std::map<std::string, std::string> restoredBy;  // target -> the backup's content
  for (const std::string& name : RestoreChain(s, backup)) {
    std::vector<std::pair<std::string, std::string>> lines;
    ASSERT_TRUE(ParseRestoreScript(*s.Read(backup + "\\" + name), &lines)) << name;
    for (const auto& [from, to] : lines) {
      auto copy = s.Read(IsAbsolute(from) ? from : backup + "\\" + from);
      if (copy && !restoredBy.count(to)) restoredBy[to] = *copy;
    }
  }
  for (const auto& [path, content] : before) {
    std::optional<std::string> now = s.Read(path);
    if (now == content) continue;
    EXPECT_FALSE(now.has_value()) << path << " changed in place";
    auto restored = restoredBy.find(path);
    ASSERT_NE(restored, restoredBy.end()) << path << " is gone and no line brings it back";
    EXPECT_EQ(restored->second, content) << path << ": its backup differs";
  }
}

std::string DwordBytes(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

std::string RegistryContents(const fs::path& file) {
  std::string bytes, text, error;
  std::ifstream in(file, std::ios::binary);
  if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  RegistryKeyNode root;
  if (!bytes.empty() && !ParseRegistryFile(bytes, &root, &error)) return "unreadable: " + error;
  if (!FormatRegistryFile(root, &text, &error)) return "unwritable: " + error;
  return text;
}

bool ApplyUndoChain(Scenario& s, const std::string& backupDirectory, const fs::path& file) {
  std::vector<fs::path> chain;
  for (const std::string& name : RestoreChainNames(s.env(), backupDirectory, "restore.reg")) {
    chain.push_back(s.env().HostPath(backupDirectory + "\\" + name));
  }
  std::string error;
  bool ok = ImportRegistryFiles(file, chain, &error);
  EXPECT_TRUE(ok) << error;
  return ok;
}
