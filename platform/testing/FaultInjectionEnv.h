// FaultInjectionEnv: wraps another Env, counts its operations that can fail
// and makes a chosen one fail, as a full disk, a locked file or a refused
// registry key would, or stops the run dead at one, as a power cut would.
// Tests use it to check that no failure at any point loses a file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/EnvWrapper.h"
#include "platform/WinError.h"
#include "platform/testing/PowerCut.h"

class FaultInjectionEnv : public EnvWrapper {
 public:
  explicit FaultInjectionEnv(Env& target) : EnvWrapper(target) {}

  // Makes operation number `index` (counted from 0 since construction or
  // Reset) fail with `error`; -1 fails nothing.
  void FailOperation(long index, uint32_t error = kErrorAccessDenied) {
    failAt_ = index;
    error_ = error;
  }
  // Makes an operation called `operation` (as FailedOperation names them:
  // "CopyFileTo", "QueryKeyInfo", ...) fail with `error`: the first one, or
  // the one after `skip` others of that name.
  void FailFirst(std::string operation, uint32_t error = kErrorAccessDenied, int skip = 0) {
    failName_ = std::move(operation);
    error_ = error;
    skip_ = skip;
  }
  // Every operation from number `index` on fails with `error`, as a disk that
  // stays full.
  void FailFrom(long index, uint32_t error = kErrorDiskFull) {
    failFrom_ = index;
    error_ = error;
  }
  // The run stops dead at operation `index`, as if the power went: that
  // operation and every later one do nothing (each fails). What the disk
  // kept of the run is for a PowerCut to say (RecordOn).
  void StopAt(long index) {
    failFrom_ = index;
    error_ = kErrorNotReady;
  }
  // Tells `cut` every file operation that succeeds from now on.
  void RecordOn(PowerCut* cut) { cut_ = cut; }

  void Reset() {
    count_ = 0;
    operations_.clear();
    failed_.clear();
  }
  long OperationCount() const { return count_; }
  // The name of every operation counted, in order.
  const std::vector<const char*>& Operations() const { return operations_; }
  // The name of the operation that was made to fail, if any.
  const std::string& FailedOperation() const { return failed_; }

  uint32_t OpenKey(RegKey parent, const char* subkey, RegKey* result) override;
  uint32_t CreateKey(RegKey parent, const char* subkey, RegKey* result, bool* created) override;
  uint32_t QueryKeyInfo(RegKey key, uint32_t* subkeys, uint32_t* maxSubkeyLen) override;
  uint32_t EnumKey(RegKey key, uint32_t index, char* name, uint32_t* nameChars) override;
  uint32_t QueryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                      uint32_t* size) override;
  uint32_t SetValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                    uint32_t size) override;

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
  bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) override;
  bool RemoveFile(const std::string& path) override;
  bool MakeWritable(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  std::unique_ptr<ReadableFile> OpenReadable(const std::string& path) override;
  bool FlushFiles(const std::vector<std::string>& paths) override;
  std::unique_ptr<FileSearch> FindFirst(const std::string& pattern, FoundFile* first) override;
  std::unique_ptr<WritableFile> CreateWritable(const std::string& path) override;

  // True when the next operation is the one to fail; counts it either way.
  bool Inject(const char* operation);

 private:
  // A failed open leaves no handle behind, as the registry's own does.
  uint32_t Refused(RegKey* result) const {
    if (result) *result = 0;
    return error_;
  }

  friend class FaultyFile;

  long count_ = 0;
  std::vector<const char*> operations_;
  long failAt_ = -1;
  long failFrom_ = -1;
  PowerCut* cut_ = nullptr;
  std::string failName_;
  int skip_ = 0;
  uint32_t error_ = kErrorAccessDenied;
  std::string failed_;
};
