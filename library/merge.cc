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
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "digest/fingerprint.h"
#include "library/file_helpers.h"
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
  ResultCode CheckExistingFile();
  ResultCode JoinAll();
  ResultCode ProveWhole(std::int32_t missing_piece);
  void MeasurePiecesForProgress();
  ResultCode ProvePiece(std::int32_t piece, const wchar_t* piece_name);
  ResultCode JoinPiece(std::int32_t piece, const wchar_t* piece_name);
  ResultCode FlushAndDeleteJoined();
  ResultCode CopyPiece(std::int32_t piece, const wchar_t* piece_name);
  void CloseAll();
  ResultCode Fail(ResultCode code) {
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
  ResultCode OutOfMemory() {
    platform_.SetLastError(kErrorNotEnoughMemory);
    return Report(RC_FILE_READ, FailedStep::kNoMemory, FileRole::kNone, nullptr);
  }

  Platform& platform_;
  const wchar_t* path_;
  ProgressReporter progress_;
  FailureReport* report_;

  SplitSet set_;
  FileHandle rebuilt_ = nullptr;
  FileHandle piece_ = nullptr;
  // The piece whose bytes were appended last and that is still on disk, or -1.
  std::int32_t joined_ = -1;
  std::unique_ptr<unsigned char[]> buffer_;
};

void MergeRun::CloseAll() {
  if (piece_ != nullptr) platform_.CloseHandle(piece_);
  if (rebuilt_ != nullptr) platform_.CloseHandle(rebuilt_);
  piece_ = rebuilt_ = nullptr;
}

// A file at the path with a manifest beside it is either a merge that already
// finished (its manifest could not be deleted) or one that stopped half way.
// Only the recorded fingerprint tells them apart; nothing is touched either way.
ResultCode MergeRun::CheckExistingFile() {
  if (!platform_.PathFileExists(set_.manifest())) return RC_OK;
  set_.ReadSourceRecord(platform_);
  wchar_t fingerprint[kFingerprintTextCapacity] = {};
  if (progress_.active()) {
    std::uint64_t size = 0;
    QueryFileSize(platform_, path_, &size);
    progress_.SetTotals(size, 0);
  }
  progress_.Enter(Phase::kVerifyWhole, -1);
  if (!FingerprintWholeFile(platform_, path_, fingerprint, progress_.byte_sink())) {
    return Report(RC_FILE_READ, FailedStep::kRead, FileRole::kRebuilt, path_);
  }
  if (set_.source().Matches(fingerprint)) return RC_OK;
  const ResultCode code = Report(RC_DIGEST_MISMATCH, FailedStep::kMismatch, FileRole::kRebuilt, path_);
  if (report_ != nullptr) report_->source_unrecorded = !set_.source_recorded();
  return code;
}

// Only for the progress display: the exports pass no callback and make no
// extra calls.
void MergeRun::MeasurePiecesForProgress() {
  if (!progress_.active()) return;
  std::uint64_t total = 0;
  for (std::uint64_t size : set_.PieceSizes(platform_)) total += size;
  progress_.SetTotals(3 * total, set_.recorded_count());
}

ResultCode MergeRun::Run() {
  if (!set_.Derive(path_)) {
    return Report(RC_INVALID_PATH, FailedStep::kNameTooLong, FileRole::kRebuilt, path_);
  }
  if (platform_.PathFileExists(path_)) return CheckExistingFile();
  if (!platform_.PathFileExists(set_.manifest())) {
    return Report(RC_MANIFEST_NOT_FOUND, FailedStep::kNotFound, FileRole::kManifest,
                  set_.manifest());
  }
  try {
    set_.ReadRecord(platform_);
    if (!set_.RecordedNamesFit()) {
      return Report(RC_INVALID_PATH, FailedStep::kNameTooLong, FileRole::kPiece, set_.base(),
                    set_.recorded_count() - 1);
    }
    MeasurePiecesForProgress();
  } catch (const std::bad_alloc&) {
    return OutOfMemory();
  }
  buffer_.reset(new (std::nothrow) unsigned char[kChunkSize]);
  if (!buffer_) return OutOfMemory();

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
  return JoinAll();
}

// A piece file beyond the recorded ones (left by an earlier, longer split)
// is never appended: it has nothing to be proved against.
ResultCode MergeRun::JoinAll() {
  std::int32_t piece = 0;
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
  if (!FingerprintWholeFile(platform_, set_.rebuilt(), fingerprint, progress_.byte_sink())) {
    return ReportRebuilt(RC_FILE_READ, FailedStep::kRead);
  }
  if (!set_.source().Matches(fingerprint)) {
    ReportRebuilt(RC_DIGEST_MISMATCH, FailedStep::kMismatch);
    if (report_ != nullptr) {
      report_->source_unrecorded = !set_.source_recorded();
      report_->missing_piece = missing_piece;
    }
    return RC_DIGEST_MISMATCH;
  }
  platform_.SetFileAttributes(set_.manifest(), Attribute::kNormal);
  if (!platform_.DeleteFile(set_.manifest())) {
    return Report(RC_FILE_DELETE, FailedStep::kDelete, FileRole::kManifest, set_.manifest());
  }
  return RC_OK;
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
  progress_.Enter(Phase::kVerifyPiece, piece);
  wchar_t fingerprint[kFingerprintTextCapacity] = {};
  // A piece that cannot be read whole is not proved, whatever was recorded.
  if (!FingerprintWholeFile(platform_, piece_name, fingerprint, progress_.byte_sink())) {
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
  wchar_t piece_name[kNameCapacity] = {};
  set_.PieceName(joined_, piece_name);
  const std::int32_t piece = joined_;
  joined_ = -1;
  platform_.SetFileAttributes(piece_name, Attribute::kNormal);
  if (!platform_.DeleteFile(piece_name)) {
    return ReportPiece(RC_FILE_DELETE, FailedStep::kDelete, piece, piece_name);
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
    if (got == 0) return RC_OK;
    total += got;
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
