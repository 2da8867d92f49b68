// Tarvelin's exported surface: what a host links against.
//
// SplitBigWIM cuts the file at `path` into pieces of at most `pieceSizeMiB`
// MiB named after its base path (.0, .1, ...), records their MD5 fingerprints
// and the source's in the manifest (base path + ".DAT"), makes all of it
// durable and then deletes the source. MergeIntoWIM rebuilds the file under
// `path` from those pieces, proving every piece and the whole before it
// deletes the pieces and, last, the manifest; called again after it stopped,
// it goes on from the pieces already joined in the file at `path`. Both run
// synchronously on the caller's thread and return one of the codes in
// result_codes.h; no exception leaves them. They need only a few KiB of the
// caller's stack: the 512 KiB transfer buffer and the fingerprint's read
// buffer are taken from the heap.
#ifndef TARVELIN_LIBRARY_TARVELIN_H_
#define TARVELIN_LIBRARY_TARVELIN_H_

#include <cstdint>

#include "library/result_codes.h"

#if defined(_WIN32)
#define TARVELIN_EXPORT
#else
#define TARVELIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
TARVELIN_EXPORT ResultCode SplitBigWIM(const wchar_t* path, std::int32_t pieceSizeMiB);
TARVELIN_EXPORT ResultCode MergeIntoWIM(const wchar_t* path);
}

// Exported so that hosts can link against it; it holds nothing and nothing in
// the library uses it.
class TARVELIN_EXPORT CTarvelin {
 public:
  CTarvelin();
  CTarvelin& operator=(const CTarvelin& other);
};

#endif  // TARVELIN_LIBRARY_TARVELIN_H_
