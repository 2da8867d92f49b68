// SPDX-License-Identifier: MIT
// The verify: the merge's judgement without the merge's writes.
//
// It walks the same road as the merge so that its verdict is the merge's:
// a file at the path is searched for the pieces joined in it, and decides
// alone when it is the whole or is not a merge's work; otherwise the pieces
// are taken from 0 (or from the first one that the file lacks) while they
// exist and while they are recorded, the first one that cannot be opened,
// read or proved decides, and failing that the pieces joined so far are
// proved against the source. Unlike the merge it goes on past the deciding
// piece, so that the user learns the state of every piece in one run.
#include "library/verify.h"

#include <memory>
#include <new>

#include "digest/fingerprint.h"
#include "digest/md5.h"
#include "library/file_helpers.h"
#include "library/joined_pieces.h"
#include "library/judged_file.h"
#include "library/split_set.h"
#include "library/progress_reporter.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

// The merge's answer while no piece has decided it yet.
constexpr ResultCode kUndecided = 0xFFFFFFFFu;

class VerifyRun {
 public:
  VerifyRun(const wchar_t* path, const OperationOptions& options, VerifyReport& report)
      : platform_(options.platform != nullptr ? *options.platform : DefaultPlatform()),
        path_(path),
        progress_(options),
        report_(report),
        failure_(options.failure) {}
  VerifyRun(const VerifyRun&) = delete;
  VerifyRun& operator=(const VerifyRun&) = delete;

  ResultCode Run();

 private:
  ResultCode ReadRecord();
  void MeasureForProgress();
  void ExamineExistingFile();
  ResultCode JudgeTail(FileHandle file, const JoinedPieces& found);
  void CheckPieces();
  void CheckPiece(PieceCheck& check, const RecordedFingerprint& recorded);
  void Decide(const PieceCheck& check);
  void FindUnrecorded();
  void ProveJoined();
  ResultCode JudgeExistingFile();
  ResultCode JudgeJoinedPieces();
  // Tells the failure report why a merge would fail, and returns `code`.
  ResultCode Report(ResultCode code, FailedStep step, FileRole role, const wchar_t* file,
                    std::uint32_t error, std::int32_t piece = -1) {
    ReportFailure(failure_, step, role, file, error, piece);
    return code;
  }

  Platform& platform_;
  // One hashing thread for every file this operation fingerprints.
  HashingThread hashing_{platform_};
  const wchar_t* path_;
  ProgressReporter progress_;
  VerifyReport& report_;
  FailureReport* failure_;

  SplitSet set_;
  std::unique_ptr<unsigned char[]> buffer_;
  // The recorded pieces joined in order; fed while none has been missing or
  // unreadable, so it then holds exactly what a merge would have appended.
  Md5Context whole_;
  bool joining_ = true;
  bool joined_matches_ = false;
  ResultCode verdict_ = kUndecided;
  // The merge's answer when the file at the path decides it alone.
  ResultCode existing_verdict_ = kUndecided;
};

ResultCode VerifyRun::Run() {
  if (!set_.Derive(path_)) {
    return Report(RC_INVALID_PATH, FailedStep::kNameTooLong, FileRole::kRebuilt, path_,
                  kErrorFilenameExcedRange);
  }
  if (set_.NamesADevice()) {
    return Report(RC_INVALID_PATH, FailedStep::kDeviceName, FileRole::kRebuilt, path_, 0);
  }
  report_.file_exists = platform_.PathFileExists(path_);
  report_.manifest_found = platform_.PathFileExists(set_.manifest());
  if (report_.manifest_found) {
    const ResultCode read = ReadRecord();
    if (read != RC_OK) return read;
  }

  if (!set_.RecordedNamesFit()) {
    return Report(RC_INVALID_PATH, FailedStep::kNameTooLong, FileRole::kPiece, set_.base(),
                  kErrorFilenameExcedRange, set_.recorded_count() - 1);
  }
  buffer_.reset(new (std::nothrow) unsigned char[kChunkSize]);
  if (!buffer_) {
    platform_.SetLastError(kErrorNotEnoughMemory);
    return Report(RC_FILE_READ, FailedStep::kNoMemory, FileRole::kNone, nullptr,
                  kErrorNotEnoughMemory);
  }

  if (report_.manifest_found) {
    MeasureForProgress();
    Md5Init(&whole_);
    if (report_.file_exists) ExamineExistingFile();
    CheckPieces();
    ProveJoined();
  }
  FindUnrecorded();

  // Without a manifest, a file at the path is none of the merge's business.
  if (report_.file_exists) return report_.manifest_found ? JudgeExistingFile() : RC_OK;
  if (!report_.manifest_found) {
    return Report(RC_MANIFEST_NOT_FOUND, FailedStep::kNotFound, FileRole::kManifest,
                  set_.manifest(), kErrorFileNotFound);
  }
  return JudgeJoinedPieces();
}

// Read through a handle of its own, as the merge reads it; beside a running
// split, which holds the manifest for writing, since it only reads.
ResultCode VerifyRun::ReadRecord() {
  const FileHandle manifest =
      platform_.CreateFile(set_.manifest(), kAccessRead, kShareRead | kShareWrite,
                           Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (manifest == InvalidHandle()) {
    return Report(RC_FILE_OPEN, FailedStep::kOpen, FileRole::kManifest, set_.manifest(),
                  platform_.GetLastError());
  }
  const bool read = set_.ReadRecord(platform_, manifest);
  const std::uint32_t error = platform_.GetLastError();
  platform_.CloseHandle(manifest);
  if (!read) {
    return Report(RC_FILE_READ,
                  error == kErrorNotEnoughMemory ? FailedStep::kNoMemory : FailedStep::kRead,
                  FileRole::kManifest, set_.manifest(), error);
  }
  report_.source_fingerprint_recorded = set_.source_recorded();
  return RC_OK;
}

// Only for the progress display: without a callback nothing is measured.
void VerifyRun::MeasureForProgress() {
  if (!progress_.active()) return;
  std::uint64_t total = 0;
  for (std::uint64_t size : set_.PieceSizes(platform_, true)) total += size;
  std::uint64_t existing = 0;
  if (report_.file_exists && QueryFileSize(platform_, path_, &existing) == RC_OK) {
    total += existing;
  }
  progress_.SetTotals(total, set_.recorded_count());
}

// Searches the file at the path as the merge does. The file decides alone
// when it is the whole, cannot be read, or is not a merge's work; when it
// begins with joined pieces, the whole goes on from them and the pieces
// after them decide.
void VerifyRun::ExamineExistingFile() {
  progress_.Enter(Phase::kFindJoined, -1);
  FileHandle file = platform_.CreateFile(path_, kAccessRead, kShareRead,
                                         Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  FileInformation information;
  const bool link = file == InvalidHandle() &&
                    platform_.GetLastError() == kErrorCantResolveFilename;
  if (link || (file != InvalidHandle() &&
               platform_.GetFileInformationByHandle(file, &information) &&
               !MayBeOurs(information))) {
    report_.existing = WholeState::kNotOurs;
    existing_verdict_ = Report(RC_FILE_OPEN, FailedStep::kNotOurs, FileRole::kRebuilt, path_,
                               link ? kErrorCantResolveFilename : kErrorFileExists);
    if (file != InvalidHandle()) platform_.CloseHandle(file);
    return;
  }
  JoinedPieces found;
  if (file == InvalidHandle() ||
      !FindJoinedPieces(platform_, file, set_, buffer_.get(), progress_.byte_sink(), &found)) {
    report_.existing = WholeState::kUnreadable;
    existing_verdict_ =
        Report(RC_FILE_READ, file == InvalidHandle() ? FailedStep::kOpen : FailedStep::kRead,
               FileRole::kRebuilt, path_, platform_.GetLastError());
    if (file != InvalidHandle()) platform_.CloseHandle(file);
    return;
  }
  if (found.whole_matches && found.count == set_.recorded_count()) {
    report_.existing = WholeState::kMatches;
    existing_verdict_ = RC_OK;
  } else if (found.whole_matches) {
    report_.existing = WholeState::kDiffers;
    existing_verdict_ = Report(RC_DIGEST_MISMATCH, FailedStep::kMismatch, FileRole::kRebuilt,
                               path_, 0);
    if (failure_ != nullptr) failure_->not_resumable = true;
  } else {
    existing_verdict_ = JudgeTail(file, found);
  }
  platform_.CloseHandle(file);
  if (existing_verdict_ != kUndecided) return;
  report_.existing = WholeState::kPartial;
  report_.resume_from = found.count;
  report_.resume_cut = found.size - found.end;
  whole_ = found.whole_at_end;
}

// kUndecided when the merge would go on after the joined pieces: no bytes
// follow them, or only the first bytes of the next piece.
ResultCode VerifyRun::JudgeTail(FileHandle file, const JoinedPieces& found) {
  const auto not_resumable = [&](std::int32_t missing_piece) {
    report_.existing = WholeState::kDiffers;
    Report(RC_DIGEST_MISMATCH, FailedStep::kMismatch, FileRole::kRebuilt, path_, 0);
    if (failure_ != nullptr) {
      failure_->source_unrecorded = !set_.source_recorded();
      failure_->missing_piece = missing_piece;
      failure_->not_resumable = true;
    }
    return RC_DIGEST_MISMATCH;
  };
  if (found.size == found.end) return kUndecided;
  const std::int32_t next = found.count;
  if (next >= set_.recorded_count()) return not_resumable(-1);
  const std::wstring name = set_.PieceName(next);
  if (!platform_.PathFileExists(name.c_str())) return not_resumable(next);
  FileHandle piece = platform_.CreateFile(name.c_str(), kAccessRead, kShareRead,
                                          Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (piece == InvalidHandle()) {
    return Report(RC_FILE_OPEN, FailedStep::kOpen, FileRole::kPiece, name.c_str(),
                  platform_.GetLastError(), next);
  }
  const TailComparison tail = CompareTail(platform_, file, found.end, piece, buffer_.get());
  const std::uint32_t error = platform_.GetLastError();
  platform_.CloseHandle(piece);
  switch (tail) {
    case TailComparison::kStartsThePiece: return kUndecided;
    case TailComparison::kDiffers: break;
    case TailComparison::kFileUnread:
      report_.existing = WholeState::kUnreadable;
      return Report(RC_FILE_READ, FailedStep::kRead, FileRole::kRebuilt, path_, error);
    case TailComparison::kPieceUnread:
      return Report(RC_FILE_READ, FailedStep::kRead, FileRole::kPiece, name.c_str(), error, next);
  }
  return not_resumable(-1);
}

void VerifyRun::CheckPieces() {
  report_.pieces.resize(static_cast<std::size_t>(set_.recorded_count()));
  for (std::int32_t n = 0; n < set_.recorded_count(); ++n) {
    PieceCheck& check = report_.pieces[static_cast<std::size_t>(n)];
    check.number = n;
    check.name = set_.PieceName(n);
    if (n < report_.resume_from) {
      check.state = PieceState::kJoined;
      continue;
    }
    if (!platform_.PathFileExists(check.name.c_str())) {
      check.state = PieceState::kMissing;
    } else {
      CheckPiece(check, set_.recorded(n));
    }
    if (joining_ && check.state == PieceState::kMissing) {
      report_.joined = WholeState::kIncomplete;
    } else if (joining_ && check.state == PieceState::kUnreadable) {
      report_.joined = WholeState::kUnreadable;
    }
    if (joining_ && report_.joined != WholeState::kNotChecked) {
      joining_ = false;
      report_.joined_stop = check.number;
    }
    Decide(check);
  }
}

// Reads the piece once, feeding its own digest and, while the join goes on,
// the digest of the whole: both in one pass of the two-lane MD5, hashed
// beside the reads as a fingerprint is.
void VerifyRun::CheckPiece(PieceCheck& check, const RecordedFingerprint& recorded) {
  progress_.Enter(Phase::kVerifyPiece, check.number);
  FileHandle file = platform_.CreateFile(check.name.c_str(), kAccessRead, kShareRead,
                                         Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (file == InvalidHandle()) {
    check.state = PieceState::kUnreadable;
    check.open_failed = true;
    check.error = platform_.GetLastError();
    return;
  }
  Md5Context own;
  Md5Init(&own);
  const bool joining = joining_;
  const bool complete = ReadAndHash(
      platform_, file,
      [&own, joining, this](const unsigned char* bytes, std::uint32_t size) {
        if (joining) {
          Md5UpdateBoth(&own, &whole_, bytes, static_cast<std::int32_t>(size));
        } else {
          Md5Update(&own, bytes, static_cast<std::int32_t>(size));
        }
      },
      [this](std::uint32_t size) { progress_.Advance(size); }, &hashing_);
  if (!complete) {
    check.state = PieceState::kUnreadable;
    check.error = platform_.GetLastError();
    platform_.CloseHandle(file);
    return;
  }
  platform_.CloseHandle(file);

  unsigned char digest[kMd5DigestSize];
  Md5Final(&own, digest);
  check.state = recorded.Matches(digest) ? PieceState::kOk : PieceState::kFailed;
}

// The merge stops at the first piece that does not exist (the whole decides
// then), cannot be opened, cannot be read whole, or does not match.
void VerifyRun::Decide(const PieceCheck& check) {
  if (verdict_ != kUndecided) return;
  switch (check.state) {
    case PieceState::kOk:
    case PieceState::kJoined:
      return;
    case PieceState::kMissing:
      verdict_ = RC_OK;  // settled by the whole; no piece decides
      return;
    case PieceState::kUnreadable:
      verdict_ = check.open_failed ? RC_FILE_OPEN : RC_FILE_READ;
      break;
    case PieceState::kFailed:
      verdict_ = RC_DIGEST_MISMATCH;
      break;
  }
  report_.deciding_piece = check.number;
}

void VerifyRun::FindUnrecorded() {
  report_.unrecorded = set_.PieceFilesFrom(platform_, set_.recorded_count());
}

// The file decided when ExamineExistingFile looked at it; else the merge
// goes on after the pieces joined in it, and those after them decide.
ResultCode VerifyRun::JudgeExistingFile() {
  if (existing_verdict_ != kUndecided) return existing_verdict_;
  return JudgeJoinedPieces();
}

// The pieces joined up to where the join stopped, against the source.
void VerifyRun::ProveJoined() {
  unsigned char digest[kMd5DigestSize];
  Md5Final(&whole_, digest);
  joined_matches_ = set_.source().Matches(digest);
  // Pieces recorded beyond what makes up the source are not needed: a merge
  // stops at the first missing one and proves what it joined.
  if (report_.joined == WholeState::kIncomplete && joined_matches_) {
    report_.joined = WholeState::kMatches;
  }
  if (report_.joined == WholeState::kNotChecked) {
    report_.joined = joined_matches_ ? WholeState::kMatches : WholeState::kDiffers;
  }
}

ResultCode VerifyRun::JudgeJoinedPieces() {
  // A missing piece ends the merge's loop; what was joined before it decides.
  if (verdict_ != kUndecided && verdict_ != RC_OK) {
    const PieceCheck& check = report_.pieces[static_cast<std::size_t>(report_.deciding_piece)];
    const FailedStep step = check.state == PieceState::kFailed ? FailedStep::kMismatch
                            : check.open_failed                ? FailedStep::kOpen
                                                               : FailedStep::kRead;
    Report(verdict_, step, FileRole::kPiece, check.name.c_str(), check.error, check.number);
    if (failure_ != nullptr && check.state == PieceState::kFailed) {
      failure_->recorded_zero = set_.recorded(check.number).IsZero();
    }
    return verdict_;
  }
  if (joined_matches_) return RC_OK;
  Report(RC_DIGEST_MISMATCH, FailedStep::kMismatch, FileRole::kRebuilt, set_.rebuilt(), 0);
  if (failure_ != nullptr) {
    failure_->source_unrecorded = !set_.source_recorded();
    if (report_.joined == WholeState::kIncomplete) failure_->missing_piece = report_.joined_stop;
  }
  return RC_DIGEST_MISMATCH;
}

}  // namespace

ResultCode Verify(const wchar_t* path, const OperationOptions& options, VerifyReport* report) {
  try {
    VerifyReport local;
    VerifyReport& out = report != nullptr ? *report : local;
    out = VerifyReport();
    VerifyRun run(path, options, out);
    return run.Run();
  } catch (const std::bad_alloc&) {
    (options.platform != nullptr ? *options.platform : DefaultPlatform())
        .SetLastError(kErrorNotEnoughMemory);
    ReportFailure(options.failure, FailedStep::kNoMemory, FileRole::kNone, nullptr,
                  kErrorNotEnoughMemory);
    return RC_FILE_READ;
  } catch (...) {
    return RC_FILE_READ;
  }
}

}  // namespace tarvelin
