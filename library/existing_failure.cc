// SPDX-License-Identifier: MIT
#include "library/existing_failure.h"

#include "platform/platform_errors.h"

namespace tarvelin {

Failure ExistingFileFailure(const ExistingJudgement& judged, const SplitSet& set,
                            const std::wstring& file) {
  switch (judged.verdict) {
    case ExistingVerdict::kWhole:
    case ExistingVerdict::kResumable: break;
    case ExistingVerdict::kNotResumable: {
      ProofDetails details;
      details.source_unrecorded = !set.source_recorded();
      details.missing_piece = judged.missing_piece;
      details.not_resumable = true;
      return Failure(RC_DIGEST_MISMATCH, kErrorSuccess, FailedStep::kMismatch, FileRole::kRebuilt,
                     file, -1, details);
    }
    case ExistingVerdict::kNotOurs:
      return Failure(RC_FILE_OPEN, judged.error, FailedStep::kNotOurs, FileRole::kRebuilt, file);
    case ExistingVerdict::kUnreadable:
      return Failure(RC_FILE_READ, judged.error, judged.step, FileRole::kRebuilt, file);
    case ExistingVerdict::kPieceUnreadable: {
      const std::int32_t piece = judged.found.count;
      return Failure(judged.step == FailedStep::kOpen ? RC_FILE_OPEN : RC_FILE_READ, judged.error,
                     judged.step, FileRole::kPiece, set.PieceName(piece), piece);
    }
  }
  return Failure();
}

}  // namespace tarvelin
