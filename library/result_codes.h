// SPDX-License-Identifier: MIT
// The result codes' values live in the public header, which hosts include;
// the library adds their names for its messages.
#ifndef TARVELIN_LIBRARY_RESULT_CODES_H_
#define TARVELIN_LIBRARY_RESULT_CODES_H_

#include <cstdint>

#include "tarvelin/tarvelin.h"

static_assert(sizeof(ResultCode) == sizeof(std::uint32_t), "ResultCode is a 32-bit number");

namespace tarvelin {

// The code's name ("RC_FILE_OPEN"), or "RC_UNKNOWN" for any other value.
const char* ResultCodeName(ResultCode code);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_RESULT_CODES_H_
