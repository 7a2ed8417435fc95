// What a shell command prints (standard output and error together) and its
// exit status, for the tests of the Linux program that ask other programs,
// such as libregf's regfexport, for a second opinion.
#pragma once

#include <filesystem>
#include <string>

#ifndef _WIN32
std::string CommandOutput(const std::string& command, int* status);
// regfexport's export of a hive: every key and value as libregf reads them.
std::string RegfExport(const std::filesystem::path& hive, int* status);
#endif
