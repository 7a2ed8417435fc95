// ProfileService: a portable private-profile service with the observable
// behaviour of GetPrivateProfileStringA, GetPrivateProfileIntA and
// WritePrivateProfileStringA, working on host files. Plain C++: it builds for
// Linux and for Windows (where the conformance test compares it with the real
// service).
//
// A file is parsed once and served from a cache for as long as its identity
// (device and inode where the host has them), size and last-write time stay
// the same; a write through the service drops the entry.
// A write replaces the whole file at once: the new content goes to a
// temporary file beside it, which is then renamed over it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/portable/profile/ProfileText.h"

class ProfileService {
 public:
  // Each call takes the profile's host path. `error` receives the Windows
  // error code exactly when the Windows function would set the last error.
  uint32_t ReadString(const char* section, const char* key, const char* def, char* buffer,
                      uint32_t size, const std::filesystem::path& file, uint32_t* error);
  // GetPrivateProfileSectionA: the section's lines as "name=value" entries.
  uint32_t ReadSection(const char* section, char* buffer, uint32_t size,
                       const std::filesystem::path& file, uint32_t* error);
  uint32_t ReadInt(const char* section, const char* key, int32_t def,
                   const std::filesystem::path& file, uint32_t* error);
  bool WriteString(const char* section, const char* key, const char* value,
                   const std::filesystem::path& file, uint32_t* error);

  // How many times a file has been parsed (for tests and benchmarks).
  uint64_t parses() const { return parses_; }

  // Larger files are refused (error 8) so that memory stays bounded: a parse
  // needs at most about ten times the file's size.
  static constexpr uintmax_t kMaxFileBytes = 16u << 20;

 private:
  struct CacheEntry {
    std::filesystem::path file;
    uint64_t identity = 0;
    uintmax_t size = 0;
    int64_t writtenNs = 0;
    size_t hash = 0;
    bool settled = false;  // written long enough ago that a change moves the time
    std::shared_ptr<const ProfileText> text;
  };

  // The parsed file; null with `error` set when it cannot be read.
  std::shared_ptr<const ProfileText> Load(const std::filesystem::path& file, uint32_t* error);
  void Forget(const std::filesystem::path& file);
  bool Replace(const std::filesystem::path& file, const std::string& bytes, uint32_t* error);

  std::vector<CacheEntry> cache_;
  uint64_t parses_ = 0;
};
