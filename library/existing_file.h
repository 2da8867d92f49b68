// SPDX-License-Identifier: MIT
// What a file already at a merge's path is to the merge: the merge acts on
// the verdict and the verify foretells it, and both reach it here, the same
// way. A merge that stopped part way leaves there pieces 0..k-1, each whole,
// and perhaps the first bytes of piece k (joined_pieces.h finds them); one
// that stopped after its last proof, or a split stopped before it deleted its
// source, leaves the whole.
#ifndef TARVELIN_LIBRARY_EXISTING_FILE_H_
#define TARVELIN_LIBRARY_EXISTING_FILE_H_

#include <cstdint>

#include "digest/fingerprint.h"
#include "library/failure_report.h"
#include "library/joined_pieces.h"
#include "library/split_set.h"
#include "platform/platform.h"

namespace tarvelin {

enum class ExistingVerdict {
  kWhole,            // the whole, holding every recorded piece at its place: tidied
  kResumable,        // pieces 0..count-1 and at most the first bytes of piece `count`
  kNotResumable,     // anything else: not a merge's work, left as it is
  kNotOurs,          // a link, a file with other names or another user's: never written
  kUnreadable,       // it could not be opened or read whole
  kPieceUnreadable,  // the piece whose start its tail must be could not be opened or read
};

struct ExistingJudgement {
  ExistingVerdict verdict = ExistingVerdict::kNotResumable;
  JoinedPieces found;
  // kNotResumable: the missing piece that the tail could not be compared with.
  std::int32_t missing_piece = -1;
  // kUnreadable, kPieceUnreadable: what failed, and the last-error value.
  FailedStep step = FailedStep::kNone;
  std::uint32_t error = 0;
};

// The verdict on a file whose open failed with `error`.
ExistingVerdict VerdictOfFailedOpen(std::uint32_t error);

// Judges `file` (the file at the path of `set`, opened by the caller for
// reading at its start, a link not followed) against the record of `set`,
// which must have been read, reading it once through `buffer` (kChunkSize
// bytes). When the verdict is kResumable with bytes after the joined pieces,
// the next piece, held open against writers, is left in *next_piece for the
// caller to cut the tail while it holds it, and to close; else *next_piece is
// null.
ExistingJudgement JudgeExistingFile(Platform& platform, FileHandle file, const SplitSet& set,
                                    unsigned char* buffer, const ByteProgress* progress,
                                    FileHandle* next_piece);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_EXISTING_FILE_H_
