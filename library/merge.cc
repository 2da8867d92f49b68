// SPDX-License-Identifier: MIT
// The merge: pieces + manifest -> the file, under the path that was split.
//
//   1. Read the record through the manifest, held against writers until it
//      is deleted (a running split holds it for writing, and so refuses this).
//   2. When a file is at the path, judge it (existing_file.h), and tidy up
//      after a merge that finished, or go on from one that stopped part way,
//      cutting off the start of the next piece it left. Otherwise check,
//      when asked, that the file system has room for the largest piece, and
//      create the rebuilt file new, no more open to others than the
//      manifest (rebuilt_file.h).
//   3. For each recorded piece from there: hold it, prove it against its
//      record, append it, read it back and prove it again; once the next is
//      proved (or none is left), flush the rebuilt file and delete the piece.
//   4. Prove the whole, from the bytes read back, and delete the manifest.
//
// The pieces and the manifest are read from beside the path, or from a
// folder of their own. Asked to keep them (kKeepPieces), it deletes nothing:
// every step above runs, but no file goes.
//
// A piece, the manifest or a copy of a joined piece (piece_copies.h) goes
// only if it is still the file proved, unchanged, and only while the rebuilt
// file stands at its name exactly as this merge last left it. A piece joined
// waits for its deletion until the next has been proved, so the disk writes
// it back meanwhile and the flush seldom waits. A failure cuts the rebuilt
// file back to the last piece that it holds whole, so that the file
// followed by the pieces left is the original.
#include <cstdint>
#include <string>

#include "library/existing_failure.h"
#include "library/existing_file.h"
#include "library/operation.h"
#include "library/piece_copies.h"
#include "library/rebuilt_file.h"
#include "library/unrecorded_pieces.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

class MergeRun : public Operation {
 public:
  explicit MergeRun(const OperationOptions& options) : Operation(options) {
    for (FileHandle* held : {&manifest_, rebuilt_.handle(), &piece_}) Hold(held);
  }
  ~MergeRun() override { CloseHeld(); }
  ResultCode Run(const wchar_t* path);

 private:
  ResultCode CheckSpace();
  ResultCode TakeExistingFile();
  ResultCode Tidy(const JoinedPieces& found);
  ResultCode JoinAll(std::int32_t first);
  bool ProvePiece(std::int32_t piece, Failure* stop);
  ResultCode JoinPiece(std::int32_t piece);
  ResultCode ProveWhole(std::int32_t missing_piece);
  ResultCode DeleteManifest() {
    return rebuilt_.DeleteWhileNoted(set_.manifest(), FileRole::kManifest, -1, manifest_judged_,
                                     &manifest_);
  }
  void MeasureForProgress(std::int32_t first, std::uint64_t other_work);
  void BeforeClosing() override { rebuilt_.CutBack(); }

  FileHandle manifest_ = nullptr;
  FileInformation manifest_judged_;
  RebuiltFile rebuilt_{*this};
  FileHandle piece_ = nullptr;
  FileInformation piece_judged_;
};

ResultCode MergeRun::Run(const wchar_t* path) {
  ResultCode result = Begin(path, FileRole::kRebuilt);
  if (result != RC_OK) return result;
  facts_.file_existed = platform_.PathFileExists(set_.rebuilt());
  facts_.manifest_found = platform_.PathFileExists(set_.manifest());
  if ((result = RefusePartOfASplit(facts_.manifest_found)) != RC_OK) return result;
  // Without a manifest, a file at the path is not ours and there is nothing
  // to merge.
  if (!facts_.manifest_found) {
    if (facts_.file_existed) return RC_OK;
    return FailManifest(RC_MANIFEST_NOT_FOUND, FailedStep::kNotFound);
  }
  if ((result = HoldManifestAndReadRecord(&manifest_, &manifest_judged_)) != RC_OK) {
    return result;
  }
  if ((result = RefuseSetFileAtThePath()) != RC_OK) return result;
  facts_.unrecorded = TellUnrecordedPieces(platform_, set_, options_);
  if (facts_.file_existed) return TakeExistingFile();
  if ((result = CheckSpace()) != RC_OK) return result;
  MeasureForProgress(0, 0);
  if ((result = rebuilt_.Create(manifest_)) != RC_OK) return result;
  return JoinAll(0);
}

// Each piece goes once the next is joined, so the rebuilt file needs room
// for its largest piece beyond what the pieces hold. Asked only of a new
// merge: one that goes on may need no room at all, and one that runs out
// of room stops with RC_FILE_WRITE, kept, and goes on from there next time.
// Pieces that stay (kept, or on another file system) free no room as they
// are joined: then it needs the whole.
ResultCode MergeRun::CheckSpace() {
  if ((options_.flags & kCheckSpace) == 0) return RC_OK;
  FileSystemInformation target;
  const bool pieces_stay = Has(kKeepPieces) ||
                           !platform_.GetVolumeInformation(set_.rebuilt(), &target) ||
                           target.volume != manifest_judged_.volume;
  std::uint64_t largest = 0;
  std::uint64_t whole = 0;
  for (std::uint64_t size : set_.PieceSizes(platform_)) {
    if (size > largest) largest = size;
    whole += size;
  }
  return RefuseWithoutRoom(pieces_stay ? whole : largest, FileRole::kRebuilt, set_.rebuilt(),
                           set_.rebuilt());
}

ResultCode MergeRun::TakeExistingFile() {
  ResultCode result = rebuilt_.OpenExisting();
  if (result != RC_OK) return result;
  std::uint32_t high = 0;
  if (progress_.active()) {
    progress_.SetTotals(platform_.GetFileSize(rebuilt_.held(), &high), set_.recorded_count());
  }
  progress_.Enter(Phase::kFindJoined, -1);
  const ExistingJudgement judged = JudgeExistingFile(
      platform_, rebuilt_.held(), set_, buffer_.get(), progress_.byte_sink(), &piece_);
  const JoinedPieces& found = judged.found;
  // The start of the next piece, held since it was compared, is cut off.
  if (piece_ != nullptr) {
    if ((result = rebuilt_.CutTo(found.end)) != RC_OK) return result;
    Close(&piece_);
  }
  // The judgement reads to its end whatever the host says; a wish to stop
  // that came meanwhile is honoured before anything else changes.
  if (Cancelled()) return FailCancelled();
  if (judged.verdict == ExistingVerdict::kWhole) return Tidy(found);
  if (judged.verdict != ExistingVerdict::kResumable) {
    return FailWith(ExistingFileFailure(judged, set_, set_.rebuilt()));
  }
  rebuilt_.GoOnAfter(found);
  facts_.resumed_from = found.count;
  MeasureForProgress(found.count, found.size + found.end);
  // Its entry may have been made just before the earlier merge stopped.
  if ((result = rebuilt_.FlushFolder()) != RC_OK) return result;
  if (found.count > 0 && (result = rebuilt_.Flush()) != RC_OK) return result;
  if ((result = rebuilt_.Note(found.end)) != RC_OK) return result;
  if (!Has(kKeepPieces) &&
      (result = DeleteCopiesOfJoined(*this, rebuilt_, found.count)) != RC_OK) {
    return result;
  }
  return JoinAll(found.count);
}

// The whole: the file and its entry go to stable storage, then the copies
// of the pieces it holds, any piece after them whose bytes it holds at its
// place (one that a split stopped part way was cutting), and the manifest.
ResultCode MergeRun::Tidy(const JoinedPieces& found) {
  facts_.tidied = true;
  ResultCode result = rebuilt_.Flush();
  if (result == RC_OK) result = rebuilt_.FlushFolder();
  if (result == RC_OK) result = rebuilt_.Note(found.size);
  if (result != RC_OK || Has(kKeepPieces)) return result;
  result = DeleteCopiesOfJoined(*this, rebuilt_, found.count);
  if (result == RC_OK) {
    result = DeleteTailPieces(*this, rebuilt_, found.count, found.end, found.size);
  }
  if (result == RC_OK) result = DeleteManifest();
  return result;
}

// A piece file beyond the recorded ones is never appended: it has nothing
// to be proved against. The first missing piece ends the join.
ResultCode MergeRun::JoinAll(std::int32_t first) {
  std::int32_t piece = first;
  for (; piece < set_.recorded_count(); ++piece) {
    if (!platform_.PathFileExists(set_.PieceName(piece).c_str())) break;
    Failure stop;
    const bool proved = ProvePiece(piece, &stop);
    // The piece joined before goes once its bytes are durable, whether or
    // not this one is good; a failed proof is told after that. The
    // last-error value stands as the proof left it.
    if (rebuilt_.piece_waits()) {
      const std::uint32_t kept = platform_.GetLastError();
      const ResultCode deleted = rebuilt_.FlushAndDeleteWaiting();
      if (deleted != RC_OK) return deleted;
      platform_.SetLastError(kept);
    }
    if (!proved) return FailWith(stop);
    const ResultCode result = JoinPiece(piece);
    if (result != RC_OK) return result;
  }
  const ResultCode deleted = rebuilt_.FlushAndDeleteWaiting();
  if (deleted != RC_OK) return deleted;
  return ProveWhole(piece < set_.recorded_count() ? piece : -1);
}

// Held against writers from its proof until it is appended, and proved and
// copied through that one handle: the bytes appended are the bytes proved.
// A piece that cannot be read whole is not proved, whatever was recorded.
// What stops the merge here is left in *stop, still held, to be told.
bool MergeRun::ProvePiece(std::int32_t piece, Failure* stop) {
  const std::wstring name = set_.PieceName(piece);
  const auto stopped = [&](ResultCode code, FailedStep step) {
    *stop = Failure{code, platform_.GetLastError(), step, FileRole::kPiece, name, piece};
    return false;
  };
  piece_ = platform_.CreateFile(name.c_str(), kAccessRead, kShareRead,
                                Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (piece_ == InvalidHandle()) {
    piece_ = nullptr;
    return stopped(RC_FILE_OPEN, FailedStep::kOpen);
  }
  progress_.Enter(Phase::kVerifyPiece, piece);
  unsigned char digest[kMd5DigestSize] = {};
  if (!platform_.GetFileInformationByHandle(piece_, &piece_judged_) ||
      !Fingerprint(piece_, digest)) {
    if (!Cancelled()) return stopped(RC_FILE_READ, FailedStep::kRead);
    *stop = Cancellation();
    return false;
  }
  const RecordedFingerprint& recorded = set_.recorded(piece);
  if (recorded.Matches(digest)) return true;
  stopped(RC_DIGEST_MISMATCH, FailedStep::kMismatch);
  stop->error = kErrorSuccess;  // every call succeeded, as for the whole
  stop->details.recorded_zero = recorded.IsZero();
  stop->details.record_malformed = !recorded.well_formed;
  return false;
}

// Appends the proved, held piece, reads it back and lets it go; it is
// deleted once the next piece has been proved.
ResultCode MergeRun::JoinPiece(std::int32_t piece) {
  progress_.Enter(Phase::kJoinPiece, piece);
  ResultCode result = rebuilt_.CheckNoted();
  if (result == RC_OK) {
    result = rebuilt_.Append(piece_, piece, piece_judged_, set_.recorded(piece));
  }
  if (result != RC_OK) return result;
  Close(&piece_);
  ++facts_.pieces;
  return RC_OK;
}

ResultCode MergeRun::ProveWhole(std::int32_t missing_piece) {
  progress_.Enter(Phase::kVerifyWhole, -1);
  const ResultCode unchanged = rebuilt_.CheckNoted();
  if (unchanged != RC_OK) return unchanged;
  facts_.bytes = rebuilt_.end();
  if (rebuilt_.WholeIs(set_.source())) return DeleteManifest();
  ProofDetails details;
  details.source_unrecorded = !set_.source_recorded();
  details.missing_piece = missing_piece;
  return FailWith(RC_DIGEST_MISMATCH, kErrorSuccess, FailedStep::kMismatch, FileRole::kRebuilt,
                  set_.rebuilt(), -1, details);
}

// Only for the progress display: without a callback nothing is measured.
void MergeRun::MeasureForProgress(std::int32_t first, std::uint64_t other_work) {
  if (!progress_.active()) return;
  std::uint64_t total = 0;
  for (std::uint64_t size : set_.PieceSizes(platform_, false, first)) total += size;
  progress_.SetTotals(other_work + 3 * total, set_.recorded_count());
}

}  // namespace

ResultCode Merge(const wchar_t* path, const OperationOptions& options) {
  return RunOperation<MergeRun>(path, options);
}

}  // namespace tarvelin
