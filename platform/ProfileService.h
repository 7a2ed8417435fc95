// ProfileService: a portable private-profile service with the observable
// behaviour of GetPrivateProfileStringA, GetPrivateProfileIntA and
// WritePrivateProfileStringA, working on host files. Plain C++: it builds for
// Linux and for Windows (where the conformance test compares it with the real
// service).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

class ProfileService {
 public:
  // Each call takes the profile's host path. `error` receives the Windows
  // error code exactly when the Windows function would set the last error.
  uint32_t ReadString(const char* section, const char* key, const char* def, char* buffer,
                      uint32_t size, const std::filesystem::path& file, uint32_t* error);
  uint32_t ReadInt(const char* section, const char* key, int32_t def,
                   const std::filesystem::path& file, uint32_t* error);
  bool WriteString(const char* section, const char* key, const char* value,
                   const std::filesystem::path& file, uint32_t* error);
};
