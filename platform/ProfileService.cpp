// Placeholder until the portable profile service lands: every file reads as
// missing and every write fails, so nothing pretends to have worked.
#include "platform/ProfileService.h"

#include "platform/WinError.h"

uint32_t ProfileService::ReadString(const char*, const char*, const char*, char* buffer,
                                    uint32_t size, const std::filesystem::path&, uint32_t* error) {
  if (size > 0) buffer[0] = '\0';
  *error = kErrorFileNotFound;
  return 0;
}

uint32_t ProfileService::ReadInt(const char*, const char*, int32_t def,
                                 const std::filesystem::path&, uint32_t* error) {
  *error = kErrorFileNotFound;
  return static_cast<uint32_t>(def);
}

bool ProfileService::WriteString(const char*, const char*, const char*,
                                 const std::filesystem::path&, uint32_t* error) {
  *error = kErrorInvalidFunction;
  return false;
}
