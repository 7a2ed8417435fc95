// EnvPortable: one emulated Windows machine inside a host folder, the image.
//
//   IMAGE/C/...     drive C: (one folder per drive letter, in capitals)
//   IMAGE/HKLM.reg  HKEY_LOCAL_MACHINE, read at start and saved at the end
//
// or a drive is a host folder of its own (PortableOptions::drives).
//
// Windows paths are resolved inside the image without regard to letter case
// (platform/ImagePath.h); nothing outside the image can be read or written.
// The current directory is the program's directory. Failures leave Windows
// error codes, and SystemMessage gives their English texts. The progress
// view is the console (platform/ConsoleView.h).
//
// Folders are read once and then kept up to date with the Env's own changes
// (platform/portable/files/FolderIndex.h): one Env serves one run, and other
// programs leave the image alone meanwhile.
//
// The volume has no 8.3 short names: ShortPathName returns the long path,
// and a search pattern matches long names only, so "*.ini" does not find
// "x.ini2". Searches return their entries sorted by upper-case name, as NTFS
// does. A file is read-only when its owner may not write it.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Env.h"
#include "platform/portable/ConsoleView.h"
#include "platform/portable/files/HostFile.h"
#include "platform/portable/files/ImagePath.h"

class PortableRegistry;
class ProfileService;
class RegistryStore;

// Opens a hive file as a registry store; null, with the reason in `error`,
// when it cannot be used.
using HiveOpener = std::shared_ptr<RegistryStore> (*)(const std::filesystem::path& hive,
                                                      std::string* error);

// The program's string table, as LoadTableString reads it.
using StringTableLoader = bool (*)(uint32_t id, std::string* text);

struct PortableOptions {
  std::filesystem::path image;  // the image folder
  // Drive letters (capitals) that stand for host folders outside the image,
  // such as a mounted Windows partition, instead of IMAGE/<letter>.
  std::map<char, std::filesystem::path> drives;
  std::string windowsDirectory = "C:\\WINDOWS";         // GetWindowsDirectoryA
  std::string programPath = "C:\\Setup\\CheckLUM.exe";  // GetModuleFileNameA
  std::ostream* progress = nullptr;                     // status/detail lines; null: no output
  std::ostream* messages = nullptr;                     // message-box texts; null: no output
  std::string caption;                                  // the message boxes' caption
  StringTableLoader strings = nullptr;                  // null: the program has no string table
  // GetOEMCP, the code page cmd reads batch files in: 437, or 65001 where
  // Windows uses UTF-8 for worldwide language support. Whoever takes the
  // options from a user refuses other values (IsOemCodePage); with one,
  // ToOemText would refuse every text, so that no file moves.
  uint32_t oemCodePage = 437;
  // With no IMAGE/HKLM.reg, the machine's SOFTWARE hive (System32/config/
  // SOFTWARE in its Windows directory) is HKEY_LOCAL_MACHINE\SOFTWARE,
  // opened with this; null: an image's registry is always its HKLM.reg.
  HiveOpener openHive = nullptr;
};

class EnvPortable : public Env {
 public:
  explicit EnvPortable(PortableOptions options);
  ~EnvPortable() override;

  // Takes the image, and every drive folder given for a letter, for this
  // Env alone, for as long as it lives: false when another run holds one
  // (or it cannot be opened), with that folder in `busy`. A run holds its
  // folders themselves, whatever path reaches them, and shares the folders
  // above them: two runs cannot change one disk at once, whether one
  // reaches it as IMAGE/C and the other as a drive given for a letter,
  // or as a drive inside the other's.
  bool LockImage(std::filesystem::path* busy = nullptr);
  // Reads IMAGE/HKLM.reg when present; else opens the machine's SOFTWARE
  // hive when there is one and the options say how; else starts with an
  // empty registry. Like every image path, neither may be a link: a link
  // could lead out of the image.
  bool LoadRegistry(std::string* error);
  // The host path of the SOFTWARE hive that stands for the registry: with
  // no HKLM.reg, a hive in the image's Windows directory; empty when none.
  // False, with the reason, when one is there but no plain file.
  bool RegistryHive(std::filesystem::path* hive, std::string* error);
  // The hive LoadRegistry opened; empty when the registry is not a hive.
  const std::filesystem::path& LoadedHive() const { return hive_; }
  // True when IMAGE/HKLM.reg is missing or a plain file; else false, with
  // the reason: a link, a folder or a device is never read.
  bool RegistryFileUsable(std::string* error);
  // 0 when SaveRegistry will be able to replace IMAGE/HKLM.reg (or the
  // hive), as far as can be known before the run: a new file can be made
  // beside it, and its disk has room for a new copy. Else the error code
  // that stands in its way.
  uint32_t CheckRegistryWritable();
  // Writes IMAGE/HKLM.reg, or commits the hive, when anything changed.
  bool SaveRegistry(std::string* error);
  // Applies registry files to IMAGE/HKLM.reg itself (or the hive), as `reg
  // import` applies them to a registry (see RegistryImport.h); for an Env
  // that has not loaded the registry, which would otherwise save over the
  // result.
  bool ImportRegistryFiles(const std::vector<std::filesystem::path>& files, std::string* error);
  // The host path a Windows path resolves to (for tests and tools): the
  // existing entry in its on-disk spelling, or where a new one would go;
  // empty when it lies outside the image (UNC and device paths) or cannot be
  // reached.
  std::filesystem::path HostPath(const std::string& windowsPath) const;
  // True when `windowsPath` leads out of the image (UNC and device paths, a
  // missing drive, a link on the way), where no operation reaches; a path
  // whose folder is merely missing does not.
  bool LeadsOutside(const std::string& windowsPath) const;
  // The OEM code page of the machine, the one restore.bat is written in.
  uint32_t OemCodePage() const { return options_.oemCodePage; }
  // Ends the progress line that a terminal shows, before other output.
  void EndProgress() { view_.EndLine(); }

  uint32_t OpenKey(RegKey parent, const char* subkey, RegKey* result) override;
  uint32_t CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) override;
  uint32_t QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen) override;
  uint32_t EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) override;
  uint32_t QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                      uint32_t* size) override;
  uint32_t SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                    uint32_t size) override;
  uint32_t CloseKey(RegKey key) override;

  uint32_t ProfileReadString(const char* section, const char* key, const char* def, char* buffer,
                             uint32_t size, const std::string& path) override;
  uint32_t ProfileReadSection(const char* section, char* buffer, uint32_t size,
                              const std::string& path) override;
  uint32_t ProfileReadInt(const char* section, const char* key, int32_t def,
                          const std::string& path) override;
  bool ProfileWriteString(const char* section, const char* key, const char* value,
                          const std::string& path) override;

  bool WindowsDirectory(std::string* dir) override;
  bool ModuleFileName(std::string* path) override;
  bool ShortPathName(const std::string& longPath, std::string* shortPath) override;
  bool CreateDir(const std::string& path) override;
  bool FullPathName(const std::string& path, std::string* fullPath) override;
  int CompareFileNames(std::string_view a, std::string_view b) override;
  bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) override;
  bool RemoveFile(const std::string& path) override;
  bool MakeWritable(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  std::unique_ptr<ReadableFile> OpenReadable(const std::string& path) override;
  bool FlushFiles(const std::vector<std::string>& paths) override;
  std::unique_ptr<FileSearch> FindFirst(const std::string& pattern, FoundFile* first) override;
  std::unique_ptr<WritableFile> CreateWritable(const std::string& path) override;
  uint32_t LastError() override { return lastError_; }
  void SetLastErrorCode(uint32_t code) override { lastError_ = code; }
  bool SystemMessage(uint32_t code, std::string* text) override;
  bool ToOemText(std::string_view ansi, std::string* oem) override;
  bool LoadTableString(uint32_t id, std::string* text) override;

  void ShowProgress(const std::string& status, const std::string& detail) override;
  void ShowMessage(const std::string& text, uint32_t type) override;

 private:
  bool Fail(uint32_t error);
  // The host path of a profile: a bare file name lies in the Windows
  // directory. Empty when the path cannot be reached.
  std::filesystem::path ProfileHostPath(const std::string& path) const;

  PortableOptions options_;
  ImagePath paths_;
  std::vector<std::unique_ptr<HostFolderLock>> locks_;  // the image and its drives
  std::unique_ptr<PortableRegistry> registry_;
  std::filesystem::path hive_;  // the SOFTWARE hive loaded as the registry; empty when none
  std::unique_ptr<ProfileService> profiles_;
  ConsoleView view_;
  uint32_t lastError_ = 0;
};
