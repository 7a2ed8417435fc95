// Hives for the tests of the Linux program's hive mode: one that holds what
// a registry file holds below HKEY_LOCAL_MACHINE\SOFTWARE, written through
// the program's own hive store into a hive built in code.
#pragma once

#include <filesystem>

#ifndef _WIN32
// Writes `hive` anew; false (with a test failure) when it cannot be done.
bool HiveFromRegistryFile(const std::filesystem::path& registryFile,
                          const std::filesystem::path& hive);
#endif
