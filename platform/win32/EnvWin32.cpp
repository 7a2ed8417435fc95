#include "platform/win32/EnvWin32.h"

#include <vector>

namespace {

// The predefined key keeps its Windows value in a RegKey; in a 64-bit HKEY
// that value is sign-extended, so it is translated both ways.
HKEY ToHkey(RegKey key) {
  return key == kHKeyLocalMachine ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key);
}
RegKey FromHkey(HKEY key) {
  return key == HKEY_LOCAL_MACHINE ? kHKeyLocalMachine : reinterpret_cast<RegKey>(key);
}

// A message box that the work asks the progress window's thread to show.
struct MessageRequest {
  const std::string* text;
  uint32_t type;
};

class Win32FileSearch : public FileSearch {
 public:
  explicit Win32FileSearch(HANDLE handle) : handle_(handle) {}
  ~Win32FileSearch() override { FindClose(handle_); }
  bool Next(FoundFile* found) override {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(handle_, &data)) return false;
    found->name = data.cFileName;
    found->directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
  }

 private:
  HANDLE handle_;
};

class Win32WritableFile : public WritableFile {
 public:
  explicit Win32WritableFile(HANDLE handle) : handle_(handle) {}
  // Closing here leaves the last error alone: the caller may still be about
  // to read the reason of an earlier failure.
  ~Win32WritableFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool Append(std::string_view data) override {
    if (handle_ == INVALID_HANDLE_VALUE) return Closed();
    while (!data.empty()) {
      DWORD chunk = data.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(data.size());
      DWORD written = 0;
      if (!WriteFile(handle_, data.data(), chunk, &written, nullptr)) return false;
      data.remove_prefix(written);
    }
    return true;
  }
  bool Sync() override {
    if (handle_ == INVALID_HANDLE_VALUE) return Closed();
    return FlushFileBuffers(handle_) != 0;
  }
  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return Closed();
    BOOL ok = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok != 0;
  }

 private:
  static bool Closed() {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  HANDLE handle_;
};

class Win32ReadableFile : public ReadableFile {
 public:
  explicit Win32ReadableFile(HANDLE handle) : handle_(handle) {}
  ~Win32ReadableFile() override { CloseHandle(handle_); }
  bool Read(char* buffer, uint32_t size, uint32_t* read) override {
    DWORD got = 0;
    BOOL ok = ReadFile(handle_, buffer, size, &got, nullptr);
    *read = got;
    return ok != 0;
  }

 private:
  HANDLE handle_;
};

}  // namespace

// The handle is handed on as the call leaves it, also on failure: null then,
// or the caller's own value where the call does not write it (a null parent).
uint32_t EnvWin32::OpenKey(RegKey parent, const char* subkey, RegKey* result) {
  HKEY key = ToHkey(*result);
  LONG rc = RegOpenKeyExA(ToHkey(parent), subkey, 0, keyAccess_, &key);
  *result = FromHkey(key);
  return static_cast<uint32_t>(rc);
}

uint32_t EnvWin32::CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExA(ToHkey(parent), subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, keyAccess_,
                            nullptr, &key, &disposition);
  *result = FromHkey(key);
  if (rc == ERROR_SUCCESS && created) *created = disposition == REG_CREATED_NEW_KEY;
  return static_cast<uint32_t>(rc);
}

uint32_t EnvWin32::QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen) {
  DWORD count = 0, longest = 0;
  LONG rc = RegQueryInfoKeyA(ToHkey(key), nullptr, nullptr, nullptr, subkeys ? &count : nullptr,
                             maxSubkeyLen ? &longest : nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr);
  if (rc == ERROR_SUCCESS) {
    if (subkeys) *subkeys = count;
    if (maxSubkeyLen) *maxSubkeyLen = longest;
  }
  return static_cast<uint32_t>(rc);
}

uint32_t EnvWin32::EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) {
  DWORD chars = *nameChars;
  LONG rc = RegEnumKeyExA(ToHkey(key), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
  *nameChars = chars;
  return static_cast<uint32_t>(rc);
}

uint32_t EnvWin32::QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                              uint32_t* size) {
  // The call works on copies that start from the caller's values, so what it
  // leaves unwritten stays as it was. A caller's single variable for type and
  // size stays a single variable for the call.
  DWORD valueType = type ? *type : 0;
  DWORD bytes = size ? *size : 0;
  DWORD* typeOut = type == nullptr ? nullptr : type == size ? &bytes : &valueType;
  LONG rc = RegQueryValueExA(ToHkey(key), name, nullptr, typeOut, data, size ? &bytes : nullptr);
  if (type) *type = *typeOut;
  if (size) *size = bytes;
  return static_cast<uint32_t>(rc);
}

uint32_t EnvWin32::SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                            uint32_t size) {
  return static_cast<uint32_t>(RegSetValueExA(ToHkey(key), name, 0, type, data, size));
}

uint32_t EnvWin32::CloseKey(RegKey key) {
  return static_cast<uint32_t>(RegCloseKey(ToHkey(key)));
}

uint32_t EnvWin32::ProfileReadString(const char* section, const char* key, const char* def,
                                     char* buffer, uint32_t size, const std::string& path) {
  return GetPrivateProfileStringA(section, key, def, buffer, size, path.c_str());
}

uint32_t EnvWin32::ProfileReadSection(const char* section, char* buffer, uint32_t size,
                                      const std::string& path) {
  return GetPrivateProfileSectionA(section, buffer, size, path.c_str());
}

uint32_t EnvWin32::ProfileReadInt(const char* section, const char* key, int32_t def,
                                  const std::string& path) {
  return GetPrivateProfileIntA(section, key, def, path.c_str());
}

bool EnvWin32::ProfileWriteString(const char* section, const char* key, const char* value,
                                  const std::string& path) {
  return WritePrivateProfileStringA(section, key, value, path.c_str()) != 0;
}

bool EnvWin32::WindowsDirectory(std::string* dir) {
  UINT needed = GetWindowsDirectoryA(nullptr, 0);
  if (needed == 0) return false;
  std::vector<char> buffer(needed);
  UINT length = GetWindowsDirectoryA(buffer.data(), needed);
  if (length == 0 || length >= needed) return false;
  dir->assign(buffer.data(), length);
  return true;
}

bool EnvWin32::ModuleFileName(std::string* path) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return false;
    if (length < buffer.size()) {
      path->assign(buffer.data(), length);
      return true;
    }
    if (buffer.size() >= 32768) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool EnvWin32::ShortPathName(const std::string& longPath, std::string* shortPath) {
  DWORD needed = GetShortPathNameA(longPath.c_str(), nullptr, 0);
  if (needed == 0) return false;
  std::vector<char> buffer(needed);
  DWORD length = GetShortPathNameA(longPath.c_str(), buffer.data(), needed);
  if (length == 0 || length >= needed) return false;
  shortPath->assign(buffer.data(), length);
  return true;
}

bool EnvWin32::FullPathName(const std::string& path, std::string* fullPath) {
  DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::vector<char> buffer(needed);
  DWORD length = GetFullPathNameA(path.c_str(), needed, buffer.data(), nullptr);
  if (length == 0 || length >= needed) return false;
  fullPath->assign(buffer.data(), length);
  return true;
}

int EnvWin32::CompareFileNames(std::string_view a, std::string_view b) {
  auto wide = [](std::string_view text) {
    int length = static_cast<int>(text.size());
    std::wstring out(MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), static_cast<int>(out.size()));
    return out;
  };
  std::wstring wa = wide(a), wb = wide(b);
  int result = CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(),
                                    static_cast<int>(wb.size()), TRUE);
  return result == 0 ? a.compare(b) : result - CSTR_EQUAL;
}

bool EnvWin32::CreateDir(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool EnvWin32::CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) {
  if (!CopyFileA(from.c_str(), to.c_str(), failIfExists)) return false;
  // CopyFileA gives the copy the source's attributes, read-only included.
  return MakeWritable(to);
}

bool EnvWin32::MakeWritable(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
  attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return SetFileAttributesA(path.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes) !=
         0;
}

bool EnvWin32::RenameFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool EnvWin32::RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

bool EnvWin32::FlushFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BOOL flushed = FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!flushed) {
      SetLastError(error);
      return false;
    }
  }
  return true;
}

std::unique_ptr<FileSearch> EnvWin32::FindFirst(const std::string& pattern, FoundFile* first) {
  WIN32_FIND_DATAA data;
  HANDLE handle = FindFirstFileA(pattern.c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  first->name = data.cFileName;
  first->directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return std::make_unique<Win32FileSearch>(handle);
}

std::unique_ptr<ReadableFile> EnvWin32::OpenReadable(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32ReadableFile>(handle);
}

std::unique_ptr<WritableFile> EnvWin32::CreateWritable(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32WritableFile>(handle);
}

uint32_t EnvWin32::LastError() {
  return GetLastError();
}

void EnvWin32::SetLastErrorCode(uint32_t code) {
  SetLastError(code);
}

bool EnvWin32::SystemMessage(uint32_t code, std::string* text) {
  char* buffer = nullptr;
  // Inserts such as %1 stay as they are: nothing could fill them. No
  // language is named, so that Windows falls back through the thread's and
  // the user's languages to one it has texts in.
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return false;
  text->assign(buffer, length);
  LocalFree(buffer);
  return true;
}

bool AnsiToCodePage(std::string_view ansi, UINT codePage, std::string* out) {
  out->clear();
  if (ansi.empty()) return true;
  int size = static_cast<int>(ansi.size());
  int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  if (units <= 0) return false;
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, wide.data(), units);
  // Without best fit, a character the code page lacks is reported, not
  // replaced by a look-alike that would name another file. UTF-8 holds every
  // character and takes neither that flag nor the report: it refuses both.
  bool utf8 = codePage == CP_UTF8;
  DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL replaced = FALSE;
  BOOL* usedDefault = utf8 ? nullptr : &replaced;
  int bytes =
      WideCharToMultiByte(codePage, flags, wide.data(), units, nullptr, 0, nullptr, usedDefault);
  if (bytes <= 0 || replaced) return false;
  out->assign(static_cast<size_t>(bytes), '\0');
  bytes = WideCharToMultiByte(codePage, flags, wide.data(), units, out->data(), bytes, nullptr,
                              usedDefault);
  out->resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
  return bytes > 0 && !replaced;
}

bool EnvWin32::ToOemText(std::string_view ansi, std::string* oem) {
  return AnsiToCodePage(ansi, GetOEMCP(), oem);
}

bool EnvWin32::LoadTableString(uint32_t id, std::string* text) {
  // With a buffer size of 0, LoadStringW hands out a pointer to the resource's
  // own text, so strings of any length load whole.
  const wchar_t* resource = nullptr;
  int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&resource), 0);
  if (length <= 0 || resource == nullptr) return false;
  int bytes = WideCharToMultiByte(CP_ACP, 0, resource, length, nullptr, 0, nullptr, nullptr);
  text->assign(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, resource, length, text->data(), bytes, nullptr, nullptr);
  return true;
}

void EnvWin32::ShowProgress(const std::string& status, const std::string& detail) {
  if (window_ == nullptr) return;
  std::lock_guard<std::mutex> hold(progressLock_);
  status_ = status;
  detail_ = detail;
  if (!progressPosted_) progressPosted_ = PostMessageW(window_, kProgressChangedMessage, 0, 0) != 0;
}

void EnvWin32::ShowMessage(const std::string& text, uint32_t type) {
  // Where no one can see it, a box would wait for ever: the run log holds
  // the message, and the run goes on as if OK had been pressed.
  if (unattended_) return;
  // The box belongs to the window's thread, which keeps the dialog painting
  // and disabled beneath it; the work waits until the user has closed it.
  MessageRequest request{&text, type};
  if (window_ != nullptr &&
      SendMessageW(window_, kShowMessageMessage, 0, reinterpret_cast<LPARAM>(&request)) != 0) {
    return;
  }
  ShowMessageBox(text, type);
}

bool EnvWin32::HandleWindowMessage(UINT message, LPARAM lParam) {
  if (message == kProgressChangedMessage) {
    std::string status, detail;
    {
      std::lock_guard<std::mutex> hold(progressLock_);
      status = status_;
      detail = detail_;
      progressPosted_ = false;
    }
    SetDlgItemTextA(window_, statusControl_, status.c_str());
    SetDlgItemTextA(window_, detailControl_, detail.c_str());
    return true;
  }
  if (message == kShowMessageMessage) {
    const auto* request = reinterpret_cast<const MessageRequest*>(lParam);
    ShowMessageBox(*request->text, request->type);
    return true;
  }
  return false;
}

bool EnvWin32::WindowStationVisible() {
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  // When it cannot be told, it counts as visible: boxes are shown, as always.
  if (!GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                 &needed)) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void EnvWin32::ShowMessageBox(const std::string& text, uint32_t type) {
  // Like the class library's message box: the program's name as caption, and
  // the exclamation icon when the caller asked for no icon.
  if ((type & MB_ICONMASK) == 0) type |= MB_ICONEXCLAMATION;
  MessageBoxA(window_, text.c_str(), caption_.c_str(), type | MB_TASKMODAL);
}
