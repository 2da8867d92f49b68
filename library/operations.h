// SPDX-License-Identifier: MIT
// The library's internal API: the split and the merge with a choice of
// platform and an optional progress callback. The exports call these with the
// default platform and no callback; the tool, the tests and the benchmarks
// call them directly.
#ifndef TARVELIN_LIBRARY_OPERATIONS_H_
#define TARVELIN_LIBRARY_OPERATIONS_H_

#include <cstdint>

#include "library/failure_report.h"
#include "library/result_codes.h"
#include "platform/platform.h"

namespace tarvelin {

enum class Phase {
  kFingerprintSource,  // split: reading the whole source for its fingerprint
  kCheckEarlierOutput, // split: comparing piece `piece`, left at one of its names by an
                       // earlier split, with the source, before clearing it
  kCutPiece,           // split: copying into piece `piece`
  kFingerprintPiece,   // split: fingerprinting the finished piece `piece`
  kFlushPieces,        // split: waiting for the disk to store every piece
  kFindJoined,         // merge: reading a file found at its path for the pieces already
                       // joined in it (verify: the same, to foretell the merge)
  kVerifyPiece,        // merge: proving piece `piece` before it is appended
  kJoinPiece,          // merge: appending piece `piece`
  kVerifyWhole,        // merge: proving the rebuilt file
};

struct ProgressEvent {
  Phase phase;
  std::int32_t piece;        // the piece concerned, -1 for none
  std::int32_t piece_count;  // the pieces expected in all
  std::uint64_t done;        // bytes of work done so far in the whole operation
  std::uint64_t total;       // bytes of work in the whole operation
};

using ProgressCallback = void (*)(const ProgressEvent& event, void* context);

struct OperationOptions {
  Platform* platform = nullptr;  // null: DefaultPlatform()
  ProgressCallback progress = nullptr;
  void* progress_context = nullptr;
  // Filled with what stopped the operation, when it fails; may be null.
  FailureReport* failure = nullptr;
};

// The size of one transfer between files: every chunk is written exactly as
// it was read.
constexpr std::uint32_t kChunkSize = 524288;

// Cuts `path` into pieces of at most `piece_size_mib` MiB (0: one chunk per
// piece after an empty piece 0; negative: a single piece), records them in
// the manifest, makes pieces, manifest and folder durable, then deletes the
// source. Never throws.
ResultCode Split(const wchar_t* path, std::int32_t piece_size_mib,
                 const OperationOptions& options = OperationOptions());

// Rebuilds `path` from its pieces, proving each before appending it and
// making the rebuilt file durable before the piece is deleted, then proves
// the whole and deletes the manifest. A file already at `path` beside the
// manifest is taken as the work of an earlier merge: when it is the whole,
// the pieces and the manifest left beside it are deleted; when it begins
// with the first pieces joined in order (and at most the first bytes of the
// next), joining goes on from there; anything else is left untouched
// (RC_DIGEST_MISMATCH). A merge that fails leaves its file holding exactly
// the pieces it joined whole. Never throws.
ResultCode Merge(const wchar_t* path, const OperationOptions& options = OperationOptions());

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_OPERATIONS_H_
