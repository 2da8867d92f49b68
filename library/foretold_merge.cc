// SPDX-License-Identifier: MIT
#include "library/foretold_merge.h"

#include "library/existing_failure.h"
#include "platform/platform_errors.h"

namespace tarvelin {

// The file decides alone when it is the whole, cannot be taken or read, or
// is not a merge's work; when it begins with joined pieces, the whole goes on
// from them and the pieces after them decide.
void ForetoldMerge::ExistingJudged(const ExistingJudgement& judged, const std::wstring& file) {
  const JoinedPieces& found = judged.found;
  switch (judged.verdict) {
    case ExistingVerdict::kWhole: report_.existing = WholeState::kMatches; break;
    case ExistingVerdict::kResumable:
      report_.existing = WholeState::kPartial;
      report_.resume_from = found.count;
      report_.resume_cut = found.size - found.end;
      whole_ = found.whole_at_end;
      return;
    case ExistingVerdict::kNotResumable: report_.existing = WholeState::kDiffers; break;
    case ExistingVerdict::kNotOurs: report_.existing = WholeState::kNotOurs; break;
    case ExistingVerdict::kUnreadable: report_.existing = WholeState::kUnreadable; break;
    case ExistingVerdict::kPieceUnreadable: break;
  }
  existing_ = ExistingFileFailure(judged, set_, file);
}

void ForetoldMerge::PieceChecked(const PieceCheck& check) {
  const PieceState state = check.state;
  if (joining_ && (state == PieceState::kMissing || state == PieceState::kUnreadable)) {
    report_.joined = state == PieceState::kMissing ? WholeState::kIncomplete
                                                   : WholeState::kUnreadable;
    report_.joined_stop = check.number;
    joining_ = false;
  }
  // The merge stops at the first piece that does not exist (the pieces
  // joined decide then), cannot be opened, cannot be read whole, or differs.
  if (piece_) return;
  if (state == PieceState::kMissing) {
    piece_ = Failure();
  } else if (state == PieceState::kUnreadable || state == PieceState::kFailed) {
    piece_ = PieceFailure(check);
    report_.deciding_piece = check.number;
  }
}

Failure ForetoldMerge::PieceFailure(const PieceCheck& check) const {
  const bool mismatch = check.state == PieceState::kFailed;
  Failure failure(
      mismatch ? RC_DIGEST_MISMATCH : check.open_failed ? RC_FILE_OPEN : RC_FILE_READ,
      check.error,
      mismatch ? FailedStep::kMismatch : check.open_failed ? FailedStep::kOpen : FailedStep::kRead,
      FileRole::kPiece, check.name, check.number);
  failure.details.recorded_zero = mismatch && set_.recorded(check.number).IsZero();
  failure.details.record_malformed = check.record_malformed;
  return failure;
}

Failure ForetoldMerge::Answer() {
  unsigned char digest[kMd5DigestSize];
  Md5Final(&whole_, digest);
  const bool joined_matches = set_.source().Matches(digest);
  // Pieces recorded beyond what makes up the source are not needed: a merge
  // stops at the first missing one and proves what it joined.
  if (report_.joined == WholeState::kIncomplete && joined_matches) {
    report_.joined = WholeState::kMatches;
  }
  if (report_.joined == WholeState::kNotChecked) {
    report_.joined = joined_matches ? WholeState::kMatches : WholeState::kDiffers;
  }
  if (existing_) return *existing_;
  if (piece_ && piece_->code != RC_OK) return *piece_;
  if (joined_matches) return Failure();
  ProofDetails details;
  details.source_unrecorded = !set_.source_recorded();
  details.missing_piece = report_.joined == WholeState::kIncomplete ? report_.joined_stop : -1;
  return Failure(RC_DIGEST_MISMATCH, kErrorSuccess, FailedStep::kMismatch, FileRole::kRebuilt,
                 set_.rebuilt(), -1, details);
}

}  // namespace tarvelin
