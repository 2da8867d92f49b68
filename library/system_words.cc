// SPDX-License-Identifier: MIT
#include "library/system_words.h"

#include "platform/platform_errors.h"

namespace tarvelin {

std::string SystemErrorWords(std::uint32_t error) {
  switch (error) {
    case kErrorSuccess: return "";
    case kErrorFileNotFound: return "no such file";
    case kErrorPathNotFound: return "no such file or folder";
    case kErrorTooManyOpenFiles: return "too many open files";
    case kErrorAccessDenied: return "permission denied";
    case kErrorInvalidHandle: return "invalid handle";
    case kErrorNotEnoughMemory: return "not enough memory";
    case kErrorWriteProtect: return "the file system is read-only";
    case kErrorWriteFault: return "a write did not take every byte";
    case kErrorReadFault: return "a read failed";
    case kErrorSharingViolation:
      return "another program is using it (a second split or merge, perhaps)";
    case kErrorHandleDiskFull:
    case kErrorDiskFull: return "no space left on the device";
    case kErrorFileExists: return "the file exists";
    case kErrorInvalidParameter: return "invalid parameter";
    case kErrorFilenameExcedRange: return "the name is too long";
    case kErrorFileTooLarge: return "the file is too large for the file system";
    case kErrorIoDevice: return "input/output error";
    case kErrorCancelled: return "the operation was cancelled";
    case kErrorCantResolveFilename: return "it is a symbolic link, which is not followed";
    default: break;
  }
  return "system error " + std::to_string(error);
}

}  // namespace tarvelin
