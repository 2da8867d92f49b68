// SPDX-License-Identifier: MIT
// The fingerprint of one file, or of a host's stream, as a manifest records
// it: an operation of its own, with progress, cancellation and the account
// of a failure that the other operations give.
#ifndef TARVELIN_LIBRARY_FILE_FINGERPRINT_H_
#define TARVELIN_LIBRARY_FILE_FINGERPRINT_H_

#include <cstddef>

#include "library/operations.h"

namespace tarvelin {

// The text, 47 characters and a terminator.
constexpr std::size_t kFingerprintTextBytes = 48;

// Opens `path` for reading, sharing reading only (a link is followed: this
// reads, and decides nothing), and reads it to its end. RC_OK with the text
// in `text`; RC_INVALID_PATH for a device's name, RC_FILE_OPEN, RC_FILE_READ,
// RC_CANCELLED. Progress goes to the options' callback in the phase
// kFingerprint. Never throws.
ResultCode FingerprintFile(const wchar_t* path, const OperationOptions& options,
                           char text[kFingerprintTextBytes]);

// Reads `source` through `read` until it returns 0 (the end) or less than 0
// (RC_FILE_READ), as FingerprintFile reads a file.
using StreamRead = long (*)(void* source, void* buffer, std::size_t size);
ResultCode FingerprintStream(StreamRead read, void* source, const OperationOptions& options,
                             char text[kFingerprintTextBytes]);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_FILE_FINGERPRINT_H_
