// SPDX-License-Identifier: MIT
// The merge: pieces + manifest -> the file, under the path that was split.
//
// Each piece is held open (others may read it, nobody may change it) while it
// is proved against its recorded fingerprint and appended, so no byte is
// appended that was not proved. The rebuilt file is flushed before a piece is
// deleted and its folder entry before the first deletion, so after a power
// loss the rebuilt file's prefix and the remaining pieces still hold every
// byte. The manifest goes last, only once the whole has been proved, so that
// a failed merge can be looked into and finished by hand.
//
// A joined piece waits for its deletion until the next piece has been
// proved: the disk writes its bytes back meanwhile, so the flush before the
// deletion seldom waits. The rebuilt file grows only after that deletion, so
// the merge needs no more room than if it deleted at once.
//
// A merge that fails cuts its file back to the last piece that it holds
// whole, so that the file followed by the pieces left is the original. One
// that was killed leaves perhaps the first bytes of a piece after them, and
// perhaps the last piece joined still on disk. Run again, the merge finds the
// joined pieces in the file (joined_pieces.h), proves them, cuts off only a
// tail that is byte for byte the start of the next piece, deletes the copies
// of joined pieces still on disk once the file is durable, and goes on
// joining. A file that proves whole is a merge interrupted after its last
// proof: the pieces and the manifest left beside it go, as the merge would
// have deleted them.
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "digest/fingerprint.h"
#include "library/file_helpers.h"
#include "library/joined_pieces.h"
#include "library/split_set.h"
#include "library/operations.h"
#include "library/progress_reporter.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

class MergeRun {
 public:
  MergeRun(const wchar_t* path, const OperationOptions& options)
      : platform_(options.platform != nullptr ? *options.platform : DefaultPlatform()),
        path_(path),
        progress_(options),
        report_(options.failure) {}
  ~MergeRun() { CloseAll(); }
  MergeRun(const MergeRun&) = delete;
  MergeRun& operator=(const MergeRun&) = delete;

  ResultCode Run();

 private:
  ResultCode ReadRecord();
  ResultCode StartFresh();
  ResultCode TakeExistingFile();
  ResultCode Tidy();
  ResultCode Resume(const JoinedPieces& found);
  ResultCode ProveTail(const JoinedPieces& found);
  ResultCode DeleteCopiesOfJoined(std::int32_t joined);
  ResultCode JoinAll(std::int32_t first);
  ResultCode ProveWhole(std::int32_t missing_piece);
  void MeasurePiecesForProgress(std::int32_t first, std::uint64_t other_work);
  ResultCode ProvePiece(std::int32_t piece, const wchar_t* piece_name);
  ResultCode JoinPiece(std::int32_t piece, const wchar_t* piece_name);
  ResultCode FlushAndDeleteJoined();
  ResultCode DeletePiece(std::int32_t piece, bool if_there = false);
  ResultCode DeleteManifest();
  ResultCode CopyPiece(std::int32_t piece, const wchar_t* piece_name);
  void CutBackPartialPiece();
  void CloseAll();
  ResultCode Fail(ResultCode code) {
    CutBackPartialPiece();
    CloseAll();
    return code;
  }
  // Tells the report what stopped the merge, with the pending last-error
  // value, and returns `code`; handles are closed by the caller.
  ResultCode Report(ResultCode code, FailedStep step, FileRole role, const wchar_t* file,
                    std::int32_t piece = -1) {
    ReportFailure(report_, step, role, file, platform_.GetLastError(), piece);
    return code;
  }
  ResultCode ReportPiece(ResultCode code, FailedStep step, std::int32_t piece,
                         const wchar_t* piece_name) {
    return Report(code, step, FileRole::kPiece, piece_name, piece);
  }
  ResultCode ReportRebuilt(ResultCode code, FailedStep step) {
    return Report(code, step, FileRole::kRebuilt, set_.rebuilt());
  }
  // The whole, or the file found at the path, is not what the record says.
  ResultCode ReportMismatch(std::int32_t missing_piece, bool not_resumable) {
    ReportRebuilt(RC_DIGEST_MISMATCH, FailedStep::kMismatch);
    if (report_ != nullptr) {
      report_->source_unrecorded = !set_.source_recorded();
      report_->missing_piece = missing_piece;
      report_->not_resumable = not_resumable;
    }
    return RC_DIGEST_MISMATCH;
  }
  ResultCode OutOfMemory() {
    platform_.SetLastError(kErrorNotEnoughMemory);
    return Report(RC_FILE_READ, FailedStep::kNoMemory, FileRole::kNone, nullptr);
  }

  Platform& platform_;
  // One hashing thread for every file this operation fingerprints.
  HashingThread hashing_{platform_};
  const wchar_t* path_;
  ProgressReporter progress_;
  FailureReport* report_;

  SplitSet set_;
  FileHandle rebuilt_ = nullptr;
  FileHandle piece_ = nullptr;
  // The piece whose bytes were appended last and that is still on disk, or -1.
  std::int32_t joined_ = -1;
  bool access_limited_ = false;
  // Where the last piece that the rebuilt file holds whole ends, and whether
  // bytes of the next one may have been written after it.
  std::uint64_t joined_end_ = 0;
  bool partial_ = false;
  std::unique_ptr<unsigned char[]> buffer_;
};

void MergeRun::CloseAll() {
  if (piece_ != nullptr) platform_.CloseHandle(piece_);
  if (rebuilt_ != nullptr) platform_.CloseHandle(rebuilt_);
  piece_ = rebuilt_ = nullptr;
}

// A failure part way through a piece leaves some of its bytes after the
// pieces joined whole; they go, so that the file followed by the pieces left
// is the original. Nothing is lost: the piece itself is still on disk. A cut
// that fails leaves them for the next merge to cut, and the last-error value
// keeps naming the failure that stopped this one.
void MergeRun::CutBackPartialPiece() {
  if (rebuilt_ == nullptr || !partial_) return;
  const std::uint32_t kept = platform_.GetLastError();
  if (platform_.SetFilePointer(rebuilt_, joined_end_) && platform_.SetEndOfFile(rebuilt_)) {
    partial_ = false;
  }
  platform_.SetLastError(kept);
}

// Only for the progress display: the exports pass no callback and make no
// extra calls. `other_work` counts the bytes read besides the pieces from
// `first`, each of which is read to prove it, to copy it and in the whole.
void MergeRun::MeasurePiecesForProgress(std::int32_t first, std::uint64_t other_work) {
  if (!progress_.active()) return;
  std::uint64_t total = 0;
  for (std::uint64_t size : set_.PieceSizes(platform_, false, first)) total += size;
  progress_.SetTotals(other_work + 3 * total, set_.recorded_count());
}

ResultCode MergeRun::Run() {
  if (!set_.Derive(path_)) {
    return Report(RC_INVALID_PATH, FailedStep::kNameTooLong, FileRole::kRebuilt, path_);
  }
  if (platform_.PathFileExists(set_.rebuilt())) {
    // Without a manifest there is nothing to merge, and the file is not ours.
    if (!platform_.PathFileExists(set_.manifest())) return RC_OK;
    return TakeExistingFile();
  }
  if (!platform_.PathFileExists(set_.manifest())) {
    return Report(RC_MANIFEST_NOT_FOUND, FailedStep::kNotFound, FileRole::kManifest,
                  set_.manifest());
  }
  return StartFresh();
}

// The record, the names it asks for and the copy buffer.
ResultCode MergeRun::ReadRecord() {
  try {
    set_.ReadRecord(platform_);
    if (!set_.RecordedNamesFit()) {
      return Report(RC_INVALID_PATH, FailedStep::kNameTooLong, FileRole::kPiece, set_.base(),
                    set_.recorded_count() - 1);
    }
  } catch (const std::bad_alloc&) {
    return OutOfMemory();
  }
  buffer_.reset(new (std::nothrow) unsigned char[kChunkSize]);
  if (!buffer_) return OutOfMemory();
  return RC_OK;
}

ResultCode MergeRun::StartFresh() {
  const ResultCode ready = ReadRecord();
  if (ready != RC_OK) return ready;
  try {
    MeasurePiecesForProgress(0, 0);
  } catch (const std::bad_alloc&) {
    return OutOfMemory();
  }
  // Opened, never truncated: a file that the existence check missed (it can
  // fail for reasons other than absence) or that appeared since may be the
  // only copy of the bytes. One that holds anything is left alone.
  rebuilt_ = platform_.CreateFile(set_.rebuilt(), kAccessRead | kAccessWrite, kShareNone,
                                  Disposition::kOpenAlways, Attribute::kNormal);
  if (rebuilt_ == InvalidHandle()) {
    rebuilt_ = nullptr;
    return ReportRebuilt(RC_FILE_OPEN, FailedStep::kCreate);
  }
  unsigned char first_byte = 0;
  std::uint32_t got = 0;
  if (!platform_.ReadFile(rebuilt_, &first_byte, 1, &got)) {
    return Fail(ReportRebuilt(RC_FILE_OPEN, FailedStep::kRead));
  }
  if (got != 0) {
    platform_.SetLastError(kErrorFileExists);
    return Fail(ReportRebuilt(RC_FILE_OPEN, FailedStep::kNotEmpty));
  }
  // The new file's folder entry must be durable before any piece goes.
  if (!platform_.FlushFolderOf(set_.rebuilt())) {
    return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlushFolder));
  }
  return JoinAll(0);
}

// A file at the path beside a manifest is taken as the work of an earlier
// merge, and held from before it is read until the merge ends: with write
// access, which a flush, a cut and the appends need, and read sharing only.
// A split holds its source with read access and read sharing for its whole
// run, so the two refuse each other whichever comes first, and no merge can
// take a split's source, still whole beside the manifest being written, for
// a finished merge and delete the pieces of a split in progress.
ResultCode MergeRun::TakeExistingFile() {
  const ResultCode ready = ReadRecord();
  if (ready != RC_OK) return ready;
  rebuilt_ = platform_.CreateFile(set_.rebuilt(), kAccessRead | kAccessWrite, kShareRead,
                                  Disposition::kOpenExisting, Attribute::kNormal);
  if (rebuilt_ == InvalidHandle()) {
    rebuilt_ = nullptr;
    return ReportRebuilt(RC_FILE_READ, FailedStep::kOpen);
  }
  if (progress_.active()) {
    std::uint32_t high = 0;
    const std::uint32_t low = platform_.GetFileSize(rebuilt_, &high);
    progress_.SetTotals((static_cast<std::uint64_t>(high) << 32) | low, set_.recorded_count());
  }
  progress_.Enter(Phase::kFindJoined, -1);
  JoinedPieces found;
  if (!FindJoinedPieces(platform_, rebuilt_, set_, buffer_.get(), progress_.byte_sink(),
                        &found)) {
    return Fail(ReportRebuilt(RC_FILE_READ, FailedStep::kRead));
  }
  if (found.whole_matches) return Tidy();
  return Resume(found);
}

// The file is the whole: a merge stopped after its last proof, or before it
// deleted what it had joined. The file goes to stable storage (its last
// piece may still be only in the cache), then every recorded piece left and,
// last, the manifest.
ResultCode MergeRun::Tidy() {
  if (!platform_.FlushFileBuffers(rebuilt_)) {
    return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlush));
  }
  if (!platform_.FlushFolderOf(set_.rebuilt())) {
    return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlushFolder));
  }
  for (std::int32_t piece = 0; piece < set_.recorded_count(); ++piece) {
    const ResultCode deleted = DeletePiece(piece, true);
    if (deleted != RC_OK) return Fail(deleted);
  }
  const ResultCode deleted = DeleteManifest();
  CloseAll();
  return deleted;
}

// The file holds pieces 0..found.count-1 and perhaps the first bytes of the
// next; anything else is not a merge's work and is left as it is.
ResultCode MergeRun::Resume(const JoinedPieces& found) {
  if (found.size > found.end) {
    const ResultCode tail = ProveTail(found);
    if (tail != RC_OK) return Fail(tail);
    if (!platform_.SetFilePointer(rebuilt_, found.end) || !platform_.SetEndOfFile(rebuilt_)) {
      return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kCut));
    }
    platform_.CloseHandle(piece_);
    piece_ = nullptr;
  }
  joined_end_ = found.end;
  try {
    MeasurePiecesForProgress(found.count, found.size + found.end);
  } catch (const std::bad_alloc&) {
    return Fail(OutOfMemory());
  }
  // Its entry must be durable before any piece goes: it may have been made
  // just before the earlier merge stopped.
  if (!platform_.FlushFolderOf(set_.rebuilt())) {
    return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlushFolder));
  }
  const ResultCode deleted = DeleteCopiesOfJoined(found.count);
  if (deleted != RC_OK) return Fail(deleted);
  return JoinAll(found.count);
}

// The bytes after the joined pieces may only be the start of the next piece,
// as a merge stopped while appending it leaves them. That piece is held open
// (in piece_) until the tail is cut, so it cannot change in between.
ResultCode MergeRun::ProveTail(const JoinedPieces& found) {
  const std::int32_t next = found.count;
  if (next >= set_.recorded_count()) return ReportMismatch(-1, true);
  wchar_t piece_name[kNameCapacity] = {};
  set_.PieceName(next, piece_name);
  if (!platform_.PathFileExists(piece_name)) return ReportMismatch(next, true);
  piece_ = platform_.CreateFile(piece_name, kAccessRead, kShareRead, Disposition::kOpenExisting,
                                Attribute::kReadOnly);
  if (piece_ == InvalidHandle()) {
    piece_ = nullptr;
    return ReportPiece(RC_FILE_OPEN, FailedStep::kOpen, next, piece_name);
  }
  switch (CompareTail(platform_, rebuilt_, found.end, piece_, buffer_.get())) {
    case TailComparison::kStartsThePiece: return RC_OK;
    case TailComparison::kDiffers: return ReportMismatch(-1, true);
    case TailComparison::kFileUnread: return ReportRebuilt(RC_FILE_READ, FailedStep::kRead);
    case TailComparison::kPieceUnread:
      return ReportPiece(RC_FILE_READ, FailedStep::kRead, next, piece_name);
  }
  return ReportMismatch(-1, true);
}

// A merge stopped between appending a piece and deleting it leaves the piece
// both in the file and on disk. The file is made durable, then the copies go.
ResultCode MergeRun::DeleteCopiesOfJoined(std::int32_t joined) {
  if (joined == 0) return RC_OK;
  if (!platform_.FlushFileBuffers(rebuilt_)) {
    return ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlush);
  }
  for (std::int32_t piece = 0; piece < joined; ++piece) {
    const ResultCode deleted = DeletePiece(piece, true);
    if (deleted != RC_OK) return deleted;
  }
  return RC_OK;
}

// A piece file beyond the recorded ones (left by an earlier, longer split)
// is never appended: it has nothing to be proved against.
ResultCode MergeRun::JoinAll(std::int32_t first) {
  std::int32_t piece = first;
  for (; piece < set_.recorded_count(); ++piece) {
    wchar_t piece_name[kNameCapacity] = {};
    set_.PieceName(piece, piece_name);
    if (!platform_.PathFileExists(piece_name)) break;
    const ResultCode proved = ProvePiece(piece, piece_name);
    // The piece joined before is gone once its bytes are durable, whether or
    // not this one is good, as if it had been deleted before this one was
    // read; the last-error value of a failed proof survives that.
    if (joined_ >= 0) {
      const std::uint32_t kept = platform_.GetLastError();
      const ResultCode deleted = FlushAndDeleteJoined();
      if (deleted != RC_OK) return Fail(deleted);
      platform_.SetLastError(kept);
    }
    if (proved != RC_OK) return Fail(proved);
    const ResultCode joined = JoinPiece(piece, piece_name);
    if (joined != RC_OK) return Fail(joined);
  }
  // The rebuilt file is durable before the last piece and the manifest go.
  const ResultCode deleted = FlushAndDeleteJoined();
  if (deleted != RC_OK) return Fail(deleted);
  platform_.CloseHandle(rebuilt_);
  rebuilt_ = nullptr;
  return ProveWhole(piece < set_.recorded_count() ? piece : -1);
}

ResultCode MergeRun::ProveWhole(std::int32_t missing_piece) {
  progress_.Enter(Phase::kVerifyWhole, -1);
  wchar_t fingerprint[kFingerprintTextCapacity] = {};
  if (!FingerprintWholeFile(platform_, set_.rebuilt(), fingerprint, progress_.byte_sink(),
                            &hashing_)) {
    return ReportRebuilt(RC_FILE_READ, FailedStep::kRead);
  }
  if (!set_.source().Matches(fingerprint)) return ReportMismatch(missing_piece, false);
  return DeleteManifest();
}

// Opens the piece and proves it against its recorded fingerprint. The piece
// stays held (others may read it, nobody may change it) until it is joined,
// so the bytes appended are the bytes proved. Leaves the handle open on
// failure too; the caller closes everything.
ResultCode MergeRun::ProvePiece(std::int32_t piece, const wchar_t* piece_name) {
  piece_ = platform_.CreateFile(piece_name, kAccessRead, kShareRead, Disposition::kOpenExisting,
                                Attribute::kReadOnly);
  if (piece_ == InvalidHandle()) {
    piece_ = nullptr;
    return ReportPiece(RC_FILE_OPEN, FailedStep::kOpen, piece, piece_name);
  }
  // The rebuilt file is no more open to others than the pieces it is made
  // of, as they were no more open than the source.
  if (!access_limited_) {
    if (!platform_.LimitAccessTo(rebuilt_, piece_)) {
      return ReportRebuilt(RC_FILE_WRITE, FailedStep::kWrite);
    }
    access_limited_ = true;
  }
  progress_.Enter(Phase::kVerifyPiece, piece);
  wchar_t fingerprint[kFingerprintTextCapacity] = {};
  // A piece that cannot be read whole is not proved, whatever was recorded.
  if (!FingerprintWholeFile(platform_, piece_name, fingerprint, progress_.byte_sink(),
                            &hashing_)) {
    return ReportPiece(RC_FILE_READ, FailedStep::kRead, piece, piece_name);
  }
  if (!set_.recorded(piece).Matches(fingerprint)) {
    return ReportPiece(RC_DIGEST_MISMATCH, FailedStep::kMismatch, piece, piece_name);
  }
  return RC_OK;
}

// Appends the proved, held piece and lets it go; it is deleted after the
// next piece has been proved.
ResultCode MergeRun::JoinPiece(std::int32_t piece, const wchar_t* piece_name) {
  progress_.Enter(Phase::kJoinPiece, piece);
  const ResultCode copied = CopyPiece(piece, piece_name);
  if (copied != RC_OK) return copied;
  platform_.CloseHandle(piece_);
  piece_ = nullptr;
  joined_ = piece;
  return RC_OK;
}

// Makes every byte appended so far durable, then deletes the piece joined
// last, if one waits.
ResultCode MergeRun::FlushAndDeleteJoined() {
  if (!platform_.FlushFileBuffers(rebuilt_)) return ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlush);
  if (joined_ < 0) return RC_OK;
  const std::int32_t piece = joined_;
  joined_ = -1;
  return DeletePiece(piece);
}

// Deletes a piece whose bytes the rebuilt file holds on stable storage. With
// `if_there`, a piece that is not there is no failure: the deletion itself
// looks, since an existence check that fails for another reason would leave
// a copy behind for good.
ResultCode MergeRun::DeletePiece(std::int32_t piece, bool if_there) {
  wchar_t piece_name[kNameCapacity] = {};
  set_.PieceName(piece, piece_name);
  platform_.SetFileAttributes(piece_name, Attribute::kNormal);
  if (!platform_.DeleteFile(piece_name) &&
      !(if_there && platform_.GetLastError() == kErrorFileNotFound)) {
    return ReportPiece(RC_FILE_DELETE, FailedStep::kDelete, piece, piece_name);
  }
  return RC_OK;
}

ResultCode MergeRun::DeleteManifest() {
  platform_.SetFileAttributes(set_.manifest(), Attribute::kNormal);
  if (!platform_.DeleteFile(set_.manifest())) {
    return Report(RC_FILE_DELETE, FailedStep::kDelete, FileRole::kManifest, set_.manifest());
  }
  return RC_OK;
}

ResultCode MergeRun::CopyPiece(std::int32_t piece, const wchar_t* piece_name) {
  // The piece is held with read sharing only, so its size cannot change under
  // us; a failed query leaves 0 and stops the copy after the first chunk.
  std::uint64_t size = 0;
  QueryFileSize(platform_, piece_name, &size);
  std::uint64_t total = 0;
  for (;;) {
    std::uint32_t got = 0;
    if (!platform_.ReadFile(piece_, buffer_.get(), kChunkSize, &got)) {
      return Fail(ReportPiece(RC_FILE_READ, FailedStep::kRead, piece, piece_name));
    }
    if (got == 0) break;
    total += got;
    partial_ = true;
    std::uint32_t written = 0;
    if (!platform_.WriteFile(rebuilt_, buffer_.get(), got, &written)) {
      return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kWrite));
    }
    if (written != got) {
      platform_.SetLastError(kErrorWriteFault);
      return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kWrite));
    }
    progress_.Advance(got);
    if (total > size) {
      platform_.SetLastError(kErrorReadFault);
      return Fail(ReportPiece(RC_FILE_READ, FailedStep::kMeasure, piece, piece_name));
    }
  }
  joined_end_ += total;
  partial_ = false;
  return RC_OK;
}

}  // namespace

ResultCode Merge(const wchar_t* path, const OperationOptions& options) {
  try {
    MergeRun run(path, options);
    return run.Run();
  } catch (...) {
    // Only an allocation can throw here, and nothing was deleted because of it.
    return RC_FILE_READ;
  }
}

}  // namespace tarvelin
