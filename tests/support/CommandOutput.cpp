#include "support/CommandOutput.h"

#include <algorithm>

#ifndef _WIN32
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "platform/portable/text/Text.h"

std::string CommandOutput(const std::string& command, int* status) {
  *status = -1;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  std::string output;
  if (pipe == nullptr) return output;
  std::array<char, 4096> buffer;
  size_t read = 0;
  while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    output.append(buffer.data(), read);
  }
  int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

std::string RegfExport(const std::filesystem::path& hive, int* status) {
  return CommandOutput("regfexport '" + hive.string() + "'", status);
}

std::string RegLookup(const std::filesystem::path& hive, int* status) {
  std::string text = CommandOutput("reglookup -H '" + hive.string() + "'", status), lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.find(",KEY,") != std::string::npos) line.erase(line.rfind(',') + 1);
    lines += line + "\n";
  }
  return lines;
}

std::string HivexExport(const std::filesystem::path& hive, int* status) {
  std::string text = CommandOutput(
      "hivexregedit --export --prefix 'HKEY_LOCAL_MACHINE\\SOFTWARE' '" + hive.string() + "' '\\'",
      status);
  // Perl prints a line whose characters all lie below 256 as Latin-1 bytes,
  // and one with a character beyond as UTF-8.
  std::u16string unicode;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(start, end - start);
    std::u16string decoded = Utf8ToUtf16(line);
    if (decoded.find(u'\xFFFD') != std::u16string::npos && line.find("\xEF\xBF\xBD") == line.npos) {
      decoded.clear();
      for (char c : line) decoded.push_back(static_cast<unsigned char>(c));
    }
    unicode += decoded;
    start = end;
  }
  std::string utf16 = "\xFF\xFE";
  for (char16_t unit : unicode) {
    utf16.push_back(static_cast<char>(unit & 0xFF));
    utf16.push_back(static_cast<char>(unit >> 8));
  }
  return utf16;
}
#endif
