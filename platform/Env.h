// Env: the one door between CheckLUM's core and the operating system.
//
// Every registry, profile, file, message and screen operation the program
// needs goes through this interface. Each operation behaves like the Win32
// function it is named after in the comment beside it: same arguments that
// matter, same results, same Windows error codes (platform/WinError.h).
// EnvWin32 forwards to the real API; EnvPortable emulates one Windows
// machine inside a folder; FaultInjectionEnv (tests) wraps either one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A registry key handle. The predefined root keys keep their Windows values.
using RegKey = std::uintptr_t;
constexpr RegKey kHKeyLocalMachine = 0x80000002;

// Registry value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// Message box types.
constexpr uint32_t kMbOk = 0x00;
constexpr uint32_t kMbIconExclamation = 0x30;

// One entry found by a file search (WIN32_FIND_DATAA, the parts we use).
struct FoundFile {
  std::string name;  // the name as stored on disk, without its directory
  bool directory = false;
};

// An open file search (FindFirstFileA handle); closed when destroyed.
class FileSearch {
 public:
  virtual ~FileSearch() = default;
  // FindNextFileA: false with error 18 once every entry has been returned.
  virtual bool Next(FoundFile* found) = 0;
};

// A file opened for writing only, shared with nobody; closed when destroyed.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual bool Append(std::string_view data) = 0;  // WriteFile
  virtual bool Sync() = 0;                         // FlushFileBuffers
  virtual bool Close() = 0;                        // CloseHandle; later calls fail
};

// A file opened for reading only, shared with readers; closed when destroyed.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // ReadFile: up to `size` bytes into `buffer`; `*read` is 0 at the end.
  virtual bool Read(char* buffer, uint32_t size, uint32_t* read) = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // --- Registry. Results are Windows error codes, 0 on success. Every
  // handle is opened with KEY_ALL_ACCESS. ---
  // RegOpenKeyExA. On failure `result` is 0 (left as it was for a null
  // `parent`, which is refused before it is touched). A null or empty subkey opens
  // `parent` itself: for a predefined key `result` is that key's own value
  // (closing it is harmless), for any other key a new handle.
  virtual uint32_t OpenKey(RegKey parent, const char* subkey, RegKey* result) = 0;
  // RegCreateKeyExA, REG_OPTION_NON_VOLATILE; `created` may be null. On
  // failure `result` is 0 and `created` is left alone. A null or empty subkey
  // gives a new handle to `parent`, predefined or not, reported as created.
  virtual uint32_t CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) = 0;
  // RegQueryInfoKeyA: subkey count and longest subkey name (characters, no
  // NUL). Either output may be null.
  virtual uint32_t QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen) = 0;
  // RegEnumKeyExA: `nameChars` is the buffer's size in, the name's length out.
  virtual uint32_t EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) = 0;
  // RegQueryValueExA: `type` and `data` may be null; `size` is in/out bytes.
  // `type` and `size` may point to one variable: the buffer's size is read
  // before the type is stored, and the size is stored last. A missing value
  // gives 2 with the type set to REG_NONE and, when `data` is null, the size
  // set to 0; with a buffer the size is left alone.
  virtual uint32_t QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                              uint32_t* size) = 0;
  // RegSetValueExA. For REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data whose
  // `size` is not 0 and whose last byte is not a NUL, the byte just after the
  // data is read as well, and stored too when it is a NUL: that byte must be
  // readable (it is for the data of a std::string or a string literal).
  virtual uint32_t SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                            uint32_t size) = 0;
  virtual uint32_t CloseKey(RegKey key) = 0;  // RegCloseKey

  // --- Private profiles (GetPrivateProfileStringA, GetPrivateProfileIntA,
  // WritePrivateProfileStringA). Null section, key, default or value
  // pointers have their Windows meaning. ---
  virtual uint32_t ProfileReadString(const char* section, const char* key, const char* def,
                                     char* buffer, uint32_t size, const std::string& path) = 0;
  // GetPrivateProfileSectionA: every line of the section but comments, as
  // "name=value" (or the name alone for a line without "="), each followed
  // by a NUL, the list closed by one more.
  virtual uint32_t ProfileReadSection(const char* section, char* buffer, uint32_t size,
                                      const std::string& path) = 0;
  virtual uint32_t ProfileReadInt(const char* section, const char* key, int32_t def,
                                  const std::string& path) = 0;
  virtual bool ProfileWriteString(const char* section, const char* key, const char* value,
                                  const std::string& path) = 0;

  // --- Files and system. A false or null result leaves the reason in
  // LastError(). ---
  virtual bool WindowsDirectory(std::string* dir) = 0;  // GetWindowsDirectoryA
  virtual bool ModuleFileName(std::string* path) = 0;   // GetModuleFileNameA
  virtual bool ShortPathName(const std::string& longPath,
                             std::string* shortPath) = 0;  // GetShortPathNameA
  // GetFullPathNameA: `path` taken from the current directory (and drive),
  // "." and ".." applied; the disk is not asked.
  virtual bool FullPathName(const std::string& path, std::string* fullPath) = 0;
  // CompareStringOrdinal with letter case ignored: the order in which the
  // file system takes two names, 0 when it takes them for one.
  virtual int CompareFileNames(std::string_view a, std::string_view b) = 0;
  virtual bool CreateDir(const std::string& path) = 0;  // CreateDirectoryA
  // CopyFileA, except that the copy is never read-only, even when the source
  // is: every copy is the program's own file, which must be flushed through a
  // handle open for writing, and which a later run may replace.
  virtual bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;  // DeleteFileA
  // MoveFileExA with MOVEFILE_WRITE_THROUGH and without REPLACE_EXISTING:
  // `from` takes the name `to` in the same volume, error 183 when a file
  // already has it. Once it returns true, the new name, and every change of
  // names made before it, survive a power cut.
  virtual bool RenameFile(const std::string& from, const std::string& to) = 0;
  // SetFileAttributesA without FILE_ATTRIBUTE_READONLY, the file's other
  // attributes kept: a read-only file can be deleted or replaced afterwards.
  // True also when it was not read-only.
  virtual bool MakeWritable(const std::string& path) = 0;
  // FlushFileBuffers for each file: once it returns true, the files' data
  // survive a power cut. A copy is not durable before, so the source of a
  // copy may go only after it.
  virtual bool FlushFiles(const std::vector<std::string>& paths) = 0;
  // FindFirstFileA: null when nothing matches.
  virtual std::unique_ptr<FileSearch> FindFirst(const std::string& pattern, FoundFile* first) = 0;
  // CreateFileA(OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ): null on failure.
  virtual std::unique_ptr<ReadableFile> OpenReadable(const std::string& path) = 0;
  // CreateFileA(CREATE_ALWAYS, GENERIC_WRITE, no sharing): null on failure.
  virtual std::unique_ptr<WritableFile> CreateWritable(const std::string& path) = 0;
  virtual uint32_t LastError() = 0;                  // GetLastError
  virtual void SetLastErrorCode(uint32_t code) = 0;  // SetLastError
  // FormatMessageA(FROM_SYSTEM | ALLOCATE_BUFFER | IGNORE_INSERTS, code,
  // language 0, so that Windows falls back to a language it has texts in):
  // the system's text, line end included, with inserts such as %1 left as
  // they stand; false (error 317) when it has none.
  virtual bool SystemMessage(uint32_t code, std::string* text) = 0;
  // LoadStringA from the program's string table; false when there is no entry.
  virtual bool LoadTableString(uint32_t id, std::string* text) = 0;
  // `ansi` in the OEM code page, in which the command prompt reads batch
  // files (MultiByteToWideChar, then WideCharToMultiByte without best fit);
  // false when that code page lacks one of its characters.
  virtual bool ToOemText(std::string_view ansi, std::string* oem) = 0;

  // --- Progress view. ---
  virtual void ShowProgress(const std::string& status, const std::string& detail) = 0;
  // A modal message box with an OK button; returns once the user closed it.
  virtual void ShowMessage(const std::string& text, uint32_t type) = 0;
};

// Orders names as the file system compares them, for sets and maps of file
// names: two names the file system takes for one are one key.
struct FileNameOrder {
  Env* env;
  bool operator()(const std::string& a, const std::string& b) const {
    return env->CompareFileNames(a, b) < 0;
  }
};
