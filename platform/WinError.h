// Windows error codes. Both platform backends report failures with these
// numbers, so the core and its messages never depend on the host system.
#pragma once

#include <cstdint>

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorNotReady = 21;  // the device is not ready: a run stopped dead
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorReadFault = 30;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorBadPathname = 161;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorMrMidNotFound = 317;
constexpr uint32_t kErrorBadExeFormat = 193;
constexpr uint32_t kErrorNoAccess = 998;  // the registry was handed a data pointer it cannot read
constexpr uint32_t kErrorBadDbFormat = 1009;  // a registry file that cannot be read
constexpr uint32_t kErrorBadKey = 1010;       // a key the registry cannot hold
constexpr uint32_t kErrorKeyDeleted = 1018;
