// SPDX-License-Identifier: MIT
#include "library/result_codes.h"

namespace tarvelin {

const char* ResultCodeName(ResultCode code) {
  switch (code) {
    case RC_OK: return "RC_OK";
    case RC_MANIFEST_WRITE: return "RC_MANIFEST_WRITE";
    case RC_SOURCE_NOT_FOUND: return "RC_SOURCE_NOT_FOUND";
    case RC_FILE_OPEN: return "RC_FILE_OPEN";
    case RC_INVALID_PATH: return "RC_INVALID_PATH";
    case RC_FILE_SIZE: return "RC_FILE_SIZE";
    case RC_DIGEST_MISMATCH: return "RC_DIGEST_MISMATCH";
    case RC_FILE_WRITE: return "RC_FILE_WRITE";
    case RC_MANIFEST_NOT_FOUND: return "RC_MANIFEST_NOT_FOUND";
    case RC_FILE_DELETE: return "RC_FILE_DELETE";
    case RC_FILE_READ: return "RC_FILE_READ";
    case RC_CANCELLED: return "RC_CANCELLED";
    case RC_INVALID_ARGUMENT: return "RC_INVALID_ARGUMENT";
    case RC_NOT_ENOUGH_SPACE: return "RC_NOT_ENOUGH_SPACE";
  }
  return "RC_UNKNOWN";
}

}  // namespace tarvelin
