// EnvWrapper: an Env that hands every call to another Env. An Env that
// changes a few operations (fault injection in tests, a recording Env)
// derives from it and overrides only those.
#pragma once

#include "platform/Env.h"

class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}

  Env& target() const { return target_; }

  uint32_t OpenKey(RegKey parent, const char* subkey, RegKey* result) override {
    return target_.OpenKey(parent, subkey, result);
  }
  uint32_t CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) override {
    return target_.CreateKey(parent, subkey, result, created);
  }
  uint32_t QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen) override {
    return target_.QueryKeyInfo(key, subkeys, maxSubkeyLen);
  }
  uint32_t EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) override {
    return target_.EnumKey(key, index, name, nameChars);
  }
  uint32_t QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                      uint32_t* size) override {
    return target_.QueryValue(key, name, type, data, size);
  }
  uint32_t SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                    uint32_t size) override {
    return target_.SetValue(key, name, type, data, size);
  }
  uint32_t CloseKey(RegKey key) override { return target_.CloseKey(key); }

  uint32_t ProfileReadString(const char* section, const char* key, const char* def, char* buffer,
                             uint32_t size, const std::string& path) override {
    return target_.ProfileReadString(section, key, def, buffer, size, path);
  }
  uint32_t ProfileReadSection(const char* section, char* buffer, uint32_t size,
                              const std::string& path) override {
    return target_.ProfileReadSection(section, buffer, size, path);
  }
  uint32_t ProfileReadInt(const char* section, const char* key, int32_t def,
                          const std::string& path) override {
    return target_.ProfileReadInt(section, key, def, path);
  }
  bool ProfileWriteString(const char* section, const char* key, const char* value,
                          const std::string& path) override {
    return target_.ProfileWriteString(section, key, value, path);
  }

  bool WindowsDirectory(std::string* dir) override { return target_.WindowsDirectory(dir); }
  bool ModuleFileName(std::string* path) override { return target_.ModuleFileName(path); }
  bool ShortPathName(const std::string& longPath, std::string* shortPath) override {
    return target_.ShortPathName(longPath, shortPath);
  }
  bool CreateDir(const std::string& path) override { return target_.CreateDir(path); }
  bool FullPathName(const std::string& path, std::string* fullPath) override {
    return target_.FullPathName(path, fullPath);
  }
  int CompareFileNames(std::string_view a, std::string_view b) override {
    return target_.CompareFileNames(a, b);
  }
  bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) override {
    return target_.CopyFileTo(from, to, failIfExists);
  }
  bool RemoveFile(const std::string& path) override { return target_.RemoveFile(path); }
  bool MakeWritable(const std::string& path) override { return target_.MakeWritable(path); }
  std::unique_ptr<ReadableFile> OpenReadable(const std::string& path) override {
    return target_.OpenReadable(path);
  }
  bool RenameFile(const std::string& from, const std::string& to) override {
    return target_.RenameFile(from, to);
  }
  bool FlushFiles(const std::vector<std::string>& paths) override {
    return target_.FlushFiles(paths);
  }
  std::unique_ptr<FileSearch> FindFirst(const std::string& pattern, FoundFile* first) override {
    return target_.FindFirst(pattern, first);
  }
  std::unique_ptr<WritableFile> CreateWritable(const std::string& path) override {
    return target_.CreateWritable(path);
  }
  uint32_t LastError() override { return target_.LastError(); }
  void SetLastErrorCode(uint32_t code) override { target_.SetLastErrorCode(code); }
  bool SystemMessage(uint32_t code, std::string* text) override {
    return target_.SystemMessage(code, text);
  }
  bool ToOemText(std::string_view ansi, std::string* oem) override {
    return target_.ToOemText(ansi, oem);
  }
  bool LoadTableString(uint32_t id, std::string* text) override {
    return target_.LoadTableString(id, text);
  }

  void ShowProgress(const std::string& status, const std::string& detail) override {
    target_.ShowProgress(status, detail);
  }
  void ShowMessage(const std::string& text, uint32_t type) override {
    target_.ShowMessage(text, type);
  }

 private:
  Env& target_;
};
