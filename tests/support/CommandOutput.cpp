#include "support/CommandOutput.h"

#ifndef _WIN32
#include <sys/wait.h>

#include <array>
#include <cstdio>

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
#endif
