// One key of a registry file and everything below it, written out as a
// registry file again, so that files in any form and order compare by
// their content.
#pragma once

#include <string>

// Empty when the key is missing or holds nothing; "unreadable: ..." when
// `bytes` is no registry file.
std::string RegistrySubtree(const std::string& bytes, const std::string& path);
