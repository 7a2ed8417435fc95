// Placeholder until the portable registry lands: no key can be opened or
// created, so nothing pretends to have been stored.
#include "platform/PortableRegistry.h"

#include "platform/WinError.h"

PortableRegistry::PortableRegistry() = default;
PortableRegistry::~PortableRegistry() = default;
uint32_t PortableRegistry::OpenKey(RegKey, const char*, RegKey*) { return kErrorFileNotFound; }
uint32_t PortableRegistry::CreateKey(RegKey, const char*, RegKey*, bool*) {
  return kErrorAccessDenied;
}
uint32_t PortableRegistry::QueryKeyInfo(RegKey, uint32_t*, uint32_t*) {
  return kErrorInvalidHandle;
}
uint32_t PortableRegistry::EnumKey(RegKey, uint32_t, char*, uint32_t*) {
  return kErrorInvalidHandle;
}
uint32_t PortableRegistry::QueryValue(RegKey, const char*, uint32_t*, uint8_t*, uint32_t*) {
  return kErrorInvalidHandle;
}
uint32_t PortableRegistry::SetValue(RegKey, const char*, uint32_t, const uint8_t*, uint32_t) {
  return kErrorInvalidHandle;
}
uint32_t PortableRegistry::CloseKey(RegKey) { return kErrorInvalidHandle; }
bool PortableRegistry::LoadFile(const std::filesystem::path&, std::string*) { return true; }
bool PortableRegistry::SaveFile(const std::filesystem::path&, std::string* error) const {
  *error = "the registry file cannot be written yet";
  return false;
}
bool PortableRegistry::Changed() const { return false; }
