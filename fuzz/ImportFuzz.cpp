// The whole import over a small image built from the input: the input is
// cut at each "\n--\n" into the files of an old installation, in this order:
// the main profile, three queue profiles, two control profiles for each
// queue, the five table profiles, the registry file, and an earlier run's
// restore.bat.1 and restore.reg.1 (the pointer profile always names the
// main profile, and each control profile has a data file). After the run,
// nothing outside the import's own Backup and Spool may have been written,
// and every file of the old installation must be in its place or
// restorable byte for byte by the restore chain. Then --restore runs the
// chains, hand-made lines and undo files included: nothing outside the
// image may be read or written, though links lead there. Anything else
// aborts.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/CheckLUMDlg.h"
#include "app/RestoreImage.h"
#include "platform/portable/EnvPortable.h"
#include "platform/portable/text/Text.h"

namespace fs = std::filesystem;

namespace {

const char* const kFiles[] = {
    "OLD/lum.ini",    "OLD/Q1/queue.ini", "OLD/Q2/queue.ini", "OLD/Q3/queue.ini", "OLD/Q1/cf1.ini",
    "OLD/Q1/cf2.ini", "OLD/Q2/cf3.ini",   "OLD/Q2/cf4.ini",   "OLD/Q3/cf5.ini",   "OLD/Q3/cf6.ini",
    "OLD/access.ini", "OLD/translat.ini", "OLD/styles.ini",   "OLD/protocol.ini", "OLD/ebcdic.ini"};

// What the folder beside the image holds: it must never reach the image.
const char* const kSecret = "secret-beside-the-image";

const fs::path& Image() {
  static const fs::path image = [] {
    fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    return base / ("import-fuzz-" + std::to_string(getpid()));
  }();
  return image;
}

void Write(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every file below `folder` but the import's own, relative path -> content.
std::map<std::string, std::string> OldFiles(const fs::path& drive) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(drive)) {
    std::string relative = fs::relative(entry.path(), drive).generic_string();
    if (relative.rfind("Setup/Backup", 0) == 0 || relative.rfind("Setup/Spool", 0) == 0) continue;
    if (entry.is_regular_file()) files[relative] = Read(entry.path());
  }
  return files;
}

// Splits a copy line of restore.bat into its two paths as cmd reads them
// (in the OEM code page), given back as the image names files: in UTF-8.
bool SplitLine(const std::string& oemLine, std::string* from, std::string* to) {
  std::string line = Cp1252ToUtf8(OemToCp1252(oemLine, kCodePage437)), expanded;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == '%') ++i;
    expanded += line[i];
  }
  if (expanded.rfind("copy/y ", 0) != 0) return false;
  std::vector<std::string> arguments(1);
  bool quoted = false;
  for (char c : expanded.substr(7)) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      if (!arguments.back().empty()) arguments.emplace_back();
    } else {
      arguments.back() += c;
    }
  }
  if (arguments.size() != 2 || quoted) return false;
  *from = arguments[0];
  *to = arguments[1];
  return true;
}

// A file's path below the drive as Windows compares names.
std::u16string NameKey(const fs::path& drive, const fs::path& host) {
  return UnicodeNameKey(Utf8ToUtf16(fs::relative(host, drive).generic_string()));
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    size_t end = input.find("\n--\n", start);
    parts.push_back(input.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 4;
  }

  const fs::path& image = Image();
  fs::remove_all(image);
  fs::path drive = image / "C";
  Write(drive / "WINDOWS/lum.ini", "[Settings]\r\nIni=C:\\OLD\\lum.ini\r\n");
  fs::create_directories(drive / "Setup");
  for (size_t i = 0; i < std::size(kFiles) && i < parts.size(); ++i) {
    Write(drive / kFiles[i], parts[i]);
  }
  for (int j = 1; j <= 6; ++j) {
    Write(drive / ("OLD/Q" + std::to_string((j + 1) / 2)) / ("df" + std::to_string(j)), "data");
  }
  const size_t more = std::size(kFiles);
  if (parts.size() > more) Write(image / "HKLM.reg", parts[more]);
  if (parts.size() > more + 1) Write(drive / "Setup/Backup/restore.bat.1", parts[more + 1]);
  if (parts.size() > more + 2) Write(drive / "Setup/Backup/restore.reg.1", parts[more + 2]);
  // A folder beside the image, and links into it from the image.
  fs::path outside = image.string() + "-outside";
  fs::remove_all(outside);
  Write(outside / "secret.reg",
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"pw\"=\"" + std::string(kSecret) + "\"\r\n");
  std::error_code ec;
  fs::create_symlink(outside, drive / "OUT", ec);
  fs::create_symlink(outside / "secret.reg", drive / "Setup/Backup/restore.reg.2", ec);
  const auto before = OldFiles(drive);

  {
    PortableOptions options;
    options.image = image;
    EnvPortable env(options);
    std::string error;
    if (env.LoadRegistry(&error)) {
      CCheckLUMDlg dlg(env);
      dlg.RunWorkStep();
    }
  }

  // Outside Backup and Spool files only went away; each one that did is in
  // Backup with a line of restore.bat that names it. A line names its file
  // as Windows finds it: in any letter case, through "." and "..".
  const auto after = OldFiles(drive);
  std::map<std::u16string, std::string> restorable;  // name key -> backup content
  {
    PortableOptions options;
    options.image = image;
    EnvPortable env(options);
    std::string script = Read(drive / "Setup/Backup/restore.bat");
    for (size_t start = 0; start < script.size();) {
      size_t end = script.find("\r\n", start);
      Check(end != std::string::npos);
      std::string from, to;
      Check(SplitLine(script.substr(start, end - start), &from, &to));
      start = end + 2;
      if (to.rfind("C:\\", 0) != 0 || from.find(':') != std::string::npos) continue;
      fs::path host = env.HostPath(Utf8ToCp1252(to));
      fs::path backup = drive / "Setup/Backup" / from;
      if (!host.empty() && fs::exists(backup)) {
        restorable.emplace(NameKey(drive, host), Read(backup));
      }
    }
  }
  for (const auto& [path, content] : after) {
    auto was = before.find(path);
    Check(was != before.end() && was->second == content);
  }
  for (const auto& [path, content] : before) {
    if (after.count(path)) continue;
    auto backup = restorable.find(NameKey(drive, drive / path));
    Check(backup != restorable.end() && backup->second == content);
  }

  {
    PortableOptions options;
    options.image = image;
    options.programPath = "C:\\Setup\\CheckLUM.exe";
    EnvPortable env(options);
    std::string error;
    std::ostringstream messages;
    if (env.RegistryFileUsable(&error)) RestoreImage(env, "C:\\Setup\\\\Backup", messages);
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(outside)) {
    left.push_back(entry.path().filename().string());
  }
  Check(left == std::vector<std::string>{"secret.reg"});
  // (An input may hold the word itself.)
  Check(input.find(kSecret) != std::string::npos ||
        Read(image / "HKLM.reg").find(kSecret) == std::string::npos);
  fs::remove_all(outside);
  return 0;
}
