// SPDX-License-Identifier: MIT
// Win32 error codes that the platform layer reports as last-error values. The
// Win32 backend passes the system's own through; the POSIX backend maps errno
// onto these, so that a host sees the same numbers on both systems.
#ifndef TARVELIN_PLATFORM_PLATFORM_ERRORS_H_
#define TARVELIN_PLATFORM_PLATFORM_ERRORS_H_

#include <cstdint>

namespace tarvelin {

enum : std::uint32_t {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorWriteProtect = 19,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorSharingViolation = 32,
  kErrorHandleDiskFull = 39,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorNegativeSeek = 131,
  kErrorInvalidName = 123,
  kErrorFilenameExcedRange = 206,
  kErrorFileTooLarge = 223,
  kErrorIoDevice = 1117,
  kErrorCancelled = 1223,
  kErrorCantResolveFilename = 1921,
};

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_PLATFORM_ERRORS_H_
