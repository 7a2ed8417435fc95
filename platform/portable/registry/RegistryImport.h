// Registry files applied to a registry file, as `reg import` applies them to
// the registry: keys and values are added or replaced, "[-key]" deletes a
// key with everything below it and "name"=- a value. The way back of a run
// (restore.reg and its earlier copies) reaches an image's HKLM.reg this way.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class PortableRegistry;

// Applies `imports` in their order to `registryFile` (an empty registry when
// it is missing) and writes it back in its own form, replacing it atomically.
// An import that is empty, or holds only the start of the "REGEDIT4" line,
// is an undo file a power cut cut short before its first entry: it is
// passed over; so is a last entry that a power cut left incomplete (one
// without its line end, or that cannot be read while the file before it
// can).
// False, with `error` naming the file and line, when a file cannot be read:
// `registryFile` is then left as it was.
bool ImportRegistryFiles(const std::filesystem::path& registryFile,
                         const std::vector<std::filesystem::path>& imports, std::string* error);
// The same for a registry in memory, which the caller saves; false, with
// the reason, at the first file that cannot be read.
bool ApplyRegistryFiles(PortableRegistry& registry,
                        const std::vector<std::filesystem::path>& imports, std::string* error);
