// The result of every operation: 0 is success, every failure has 0xE0F0 in
// its high half. Hosts compare these numbers, so they never change.
#ifndef TARVELIN_LIBRARY_RESULT_CODES_H_
#define TARVELIN_LIBRARY_RESULT_CODES_H_

#include <cstdint>

typedef std::uint32_t ResultCode;

enum : ResultCode {
  RC_OK = 0,
  RC_MANIFEST_WRITE = 0xE0F00006u,      // the split could not record a fingerprint
  RC_SOURCE_NOT_FOUND = 0xE0F00008u,    // the split's source does not exist
  RC_FILE_OPEN = 0xE0F00009u,           // a file could not be opened or created
  RC_INVALID_PATH = 0xE0F00011u,        // no path, an empty one, or a name too long
  RC_FILE_SIZE = 0xE0F00012u,           // the size of an open file could not be read
  RC_DIGEST_MISMATCH = 0xE0F00013u,     // a piece or the rebuilt file is not what was recorded
  RC_FILE_WRITE = 0xE0F00014u,          // writing or flushing a piece or the rebuilt file failed
  RC_MANIFEST_NOT_FOUND = 0xE0F00015u,  // the merge found no manifest
  RC_FILE_DELETE = 0xE0F00016u,         // the source, a merged piece or the manifest stayed
  RC_FILE_READ = 0xE0F00017u,           // reading the source or a piece failed
};

namespace tarvelin {

// The code's name ("RC_FILE_OPEN"), or "RC_UNKNOWN" for any other value.
const char* ResultCodeName(ResultCode code);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_RESULT_CODES_H_
