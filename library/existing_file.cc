// SPDX-License-Identifier: MIT
#include "library/existing_file.h"

#include "library/judged_file.h"
#include "platform/platform_errors.h"

namespace tarvelin {

ExistingVerdict VerdictOfFailedOpen(std::uint32_t error) {
  return error == kErrorCantResolveFilename ? ExistingVerdict::kNotOurs
                                            : ExistingVerdict::kUnreadable;
}

ExistingJudgement JudgeExistingFile(Platform& platform, FileHandle file, const SplitSet& set,
                                    unsigned char* buffer, const ByteProgress* progress,
                                    FileHandle* next_piece) {
  *next_piece = nullptr;
  ExistingJudgement judged;
  const auto failed = [&](ExistingVerdict verdict, FailedStep step) {
    judged.verdict = verdict;
    judged.step = step;
    judged.error = platform.GetLastError();
    return judged;
  };
  FileInformation information;
  if (!platform.GetFileInformationByHandle(file, &information)) {
    return failed(ExistingVerdict::kUnreadable, FailedStep::kOpen);
  }
  // Written into only when it may be ours: a file with a second name, or one
  // that another user put there, would share the rebuilt bytes with others.
  if (!MayBeOurs(information)) {
    platform.SetLastError(kErrorFileExists);
    return failed(ExistingVerdict::kNotOurs, FailedStep::kNotOurs);
  }
  if (!FindJoinedPieces(platform, file, set, buffer, progress, &judged.found)) {
    return failed(ExistingVerdict::kUnreadable, FailedStep::kRead);
  }
  const JoinedPieces& found = judged.found;
  // A whole file whose record does not lead to it piece by piece is no
  // merge's work: the record vouches for pieces that it does not hold.
  if (found.whole_matches) {
    judged.verdict = found.count == set.recorded_count() ? ExistingVerdict::kWhole
                                                         : ExistingVerdict::kNotResumable;
    return judged;
  }
  judged.verdict = ExistingVerdict::kResumable;
  if (found.size == found.end) return judged;
  // The bytes after the joined pieces may only be the start of the next
  // piece, as a merge stopped while appending it leaves them.
  judged.verdict = ExistingVerdict::kNotResumable;
  const std::int32_t next = found.count;
  if (next >= set.recorded_count()) return judged;
  const std::wstring name = set.PieceName(next);
  if (!platform.PathFileExists(name.c_str())) {
    judged.missing_piece = next;
    return judged;
  }
  FileHandle piece = platform.CreateFile(name.c_str(), kAccessRead, kShareRead,
                                         Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (piece == InvalidHandle()) return failed(ExistingVerdict::kPieceUnreadable, FailedStep::kOpen);
  switch (CompareTail(platform, file, found.end, piece, buffer)) {
    case TailComparison::kStartsThePiece:
      judged.verdict = ExistingVerdict::kResumable;
      *next_piece = piece;
      return judged;
    case TailComparison::kDiffers: break;
    case TailComparison::kFileUnread: failed(ExistingVerdict::kUnreadable, FailedStep::kRead); break;
    case TailComparison::kPieceUnread:
      failed(ExistingVerdict::kPieceUnreadable, FailedStep::kRead);
      break;
  }
  const std::uint32_t error = platform.GetLastError();
  platform.CloseHandle(piece);
  platform.SetLastError(error);
  return judged;
}

}  // namespace tarvelin
