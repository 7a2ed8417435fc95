#include "platform/portable/SystemMessages.h"

#include "platform/WinError.h"

namespace {

struct SystemText {
  uint32_t code;
  const char* text;
};

const SystemText kTexts[] = {
    {kErrorSuccess, "Success.\r\n"},
    {kErrorInvalidFunction, "Invalid function.\r\n"},
    {kErrorFileNotFound, "File not found.\r\n"},
    {kErrorPathNotFound, "Path not found.\r\n"},
    {kErrorAccessDenied, "Access denied.\r\n"},
    {kErrorInvalidHandle, "Invalid handle.\r\n"},
    {kErrorNotEnoughMemory, "Not enough memory.\r\n"},
    {kErrorNoMoreFiles, "No more files.\r\n"},
    {kErrorNotReady, "Not ready.\r\n"},
    {kErrorWriteFault, "Write fault.\r\n"},
    {kErrorReadFault, "Read fault.\r\n"},
    {kErrorSharingViolation, "Sharing violation.\r\n"},
    {kErrorFileExists, "File exists.\r\n"},
    {kErrorInvalidParameter, "Invalid parameter.\r\n"},
    {kErrorDiskFull, "Disk full.\r\n"},
    {kErrorInsufficientBuffer, "Insufficient buffer.\r\n"},
    {kErrorInvalidName, "Invalid name.\r\n"},
    {kErrorBadExeFormat, "Bad EXE format for %1.\r\n"},
    {kErrorBadPathname, "Path is invalid.\r\n"},
    {kErrorAlreadyExists, "File already exists.\r\n"},
    {kErrorMoreData, "More data available.\r\n"},
    {kErrorNoMoreItems, "No more data available.\r\n"},
    {kErrorNoAccess, "No access to memory location.\r\n"},
    {kErrorMrMidNotFound, "Message 0x%1 not found in file %2.\r\n"},
    {kErrorBadDbFormat, "Registry corrupt.\r\n"},
    {kErrorBadKey, "Invalid key.\r\n"},
    {kErrorKeyDeleted, "Key deleted.\r\n"},
};

}  // namespace

uint32_t FindSystemMessage(uint32_t code, std::string* text) {
  // An HRESULT that wraps a Win32 code (FACILITY_WIN32) has that code's text.
  if ((code & 0xFFFF0000u) == 0x80070000u) code &= 0xFFFFu;
  for (const SystemText& entry : kTexts) {
    if (entry.code == code) {
      *text = entry.text;
      return kErrorSuccess;
    }
  }
  return kErrorMrMidNotFound;
}
