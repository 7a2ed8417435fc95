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
// reglookup's listing of a hive (a third reader, of the Sleuth Kit's
// family), without the keys' times.
std::string RegLookup(const std::filesystem::path& hive, int* status);
// hivexregedit's export of a hive (libhivex's own tools) as the registry
// file of HKEY_LOCAL_MACHINE\SOFTWARE it writes, turned from Perl's output
// (Latin-1 or UTF-8, line by line) into UTF-16LE with its byte order mark, the form whose hex(1)
// bytes are UTF-16LE as hivexregedit writes them.
std::string HivexExport(const std::filesystem::path& hive, int* status);
#endif
