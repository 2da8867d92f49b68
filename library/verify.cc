// SPDX-License-Identifier: MIT
// The verify: the merge's judgement without the merge's writes.
//
//   1. Read the record, beside a running split (which holds the manifest for
//      writing) since it only reads.
//   2. Judge a file at the path as the merge judges it (existing_file.h).
//   3. Check each recorded piece from 0 (or from the first that the file at
//      the path lacks): one read feeds its own digest and, while the join
//      goes on, the digest of the pieces joined; tell its verdict.
//   4. Tell the piece files past the record (every one from 0 without a
//      manifest), which a merge leaves in place.
//   5. Prove the pieces joined against the source, and answer as the merge
//      would: the first missing piece ends the join, the first piece that
//      cannot be opened, read or proved decides, and failing that the whole.
//
// Unlike the merge it goes on past the deciding piece, so that the user
// learns the state of every piece in one run.
#include <cstdint>
#include <string>

#include "library/existing_file.h"
#include "library/file_helpers.h"
#include "library/foretold_merge.h"
#include "library/operation.h"
#include "library/unrecorded_pieces.h"
#include "library/verify.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

class VerifyRun : public Operation {
 public:
  VerifyRun(const OperationOptions& options, VerifyReport& report)
      : Operation(options), report_(report), merge_(set_, report) {}
  ResultCode Run(const wchar_t* path);

 private:
  ResultCode ReadRecord();
  void MeasureForProgress();
  void JudgeExisting();
  void CheckPieces();
  void CheckPiece(PieceCheck& check);

  VerifyReport& report_;
  ForetoldMerge merge_;
};

ResultCode VerifyRun::Run(const wchar_t* path) {
  ResultCode result = Begin(path, FileRole::kRebuilt);
  if (result != RC_OK) return result;
  report_.file_exists = platform_.PathFileExists(set_.path());
  report_.manifest_found = platform_.PathFileExists(set_.manifest());
  if ((result = RefusePartOfASplit(report_.manifest_found)) != RC_OK) return result;
  // Without a manifest every piece file from 0 is unrecorded, and a file at
  // the path is none of the merge's business.
  if (!report_.manifest_found) {
    report_.unrecorded = TellUnrecordedPieces(platform_, set_, options_);
    if (report_.file_exists) return RC_OK;
    return FailWith(RC_MANIFEST_NOT_FOUND, kErrorFileNotFound, FailedStep::kNotFound,
                    FileRole::kManifest, set_.manifest());
  }
  if ((result = ReadRecord()) != RC_OK) return result;
  if ((result = RefuseSetFileAtThePath()) != RC_OK) return result;
  MeasureForProgress();
  if (report_.file_exists) JudgeExisting();
  CheckPieces();
  if (Cancelled()) return FailCancelled();
  report_.unrecorded = TellUnrecordedPieces(platform_, set_, options_);
  progress_.Enter(Phase::kVerifyWhole, -1);
  const Failure answer = merge_.Answer();
  return answer.code == RC_OK ? RC_OK : FailWith(answer);
}

ResultCode VerifyRun::ReadRecord() {
  FileHandle manifest = platform_.CreateFile(set_.manifest(), kAccessRead,
                                             kShareRead | kShareWrite,
                                             Disposition::kOpenExistingNoLink,
                                             Attribute::kReadOnly);
  if (manifest == InvalidHandle()) return FailManifest(RC_FILE_OPEN, FailedStep::kOpen);
  const bool read = set_.ReadRecord(platform_, manifest);
  const std::uint32_t error = platform_.GetLastError();
  Close(&manifest);
  if (!read) {
    return FailWith(RC_FILE_READ, error,
                    error == kErrorNotEnoughMemory ? FailedStep::kNoMemory : FailedStep::kRead,
                    FileRole::kManifest, set_.manifest());
  }
  const ResultCode result = CheckRecordedNamesFit();
  if (result != RC_OK) return result;
  report_.source_fingerprint_recorded = set_.source_recorded();
  report_.recorded = set_.recorded_count();
  return RC_OK;
}

// Only for the progress display: without a callback nothing is measured.
void VerifyRun::MeasureForProgress() {
  if (!progress_.active()) return;
  std::uint64_t total = 0;
  for (std::uint64_t size : set_.PieceSizes(platform_, true)) total += size;
  std::uint64_t existing = 0;
  if (report_.file_exists && QueryFileSize(platform_, set_.path(), &existing) == RC_OK) {
    total += existing;
  }
  progress_.SetTotals(total, set_.recorded_count());
}

// Opened for reading only, and judged as the merge judges the file it opens.
void VerifyRun::JudgeExisting() {
  progress_.Enter(Phase::kFindJoined, -1);
  const std::wstring path = set_.path();
  FileHandle file = platform_.CreateFile(path.c_str(), kAccessRead, kShareRead,
                                         Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  ExistingJudgement judged;
  if (file == InvalidHandle()) {
    judged.verdict = VerdictOfFailedOpen(platform_.GetLastError());
    judged.step = judged.verdict == ExistingVerdict::kNotOurs ? FailedStep::kNotOurs
                                                               : FailedStep::kOpen;
    judged.error = platform_.GetLastError();
  } else {
    FileHandle next_piece = nullptr;
    judged = JudgeExistingFile(platform_, file, set_, buffer_.get(), progress_.byte_sink(),
                               &next_piece);
    Close(&next_piece);
    Close(&file);
  }
  merge_.ExistingJudged(judged, path);
}

void VerifyRun::CheckPieces() {
  for (std::int32_t n = 0; n < set_.recorded_count() && !Cancelled(); ++n) {
    PieceCheck check;
    check.number = n;
    check.name = set_.PieceName(n);
    if (n < report_.resume_from) {
      check.state = PieceState::kJoined;
    } else {
      CheckPiece(check);
    }
    // A piece whose reading the host stopped has no verdict.
    if (check.state == PieceState::kUnreadable && Cancelled()) return;
    merge_.PieceChecked(check);
    if (options_.on_piece != nullptr) options_.on_piece(check, options_.piece_context);
  }
}

// Reads the piece once, feeding its own digest and, while the join goes on,
// the digest of the pieces joined: both in one pass of the two-lane MD5,
// hashed beside the reads as a fingerprint is.
void VerifyRun::CheckPiece(PieceCheck& check) {
  progress_.Enter(Phase::kVerifyPiece, check.number);
  FileHandle file = platform_.CreateFile(check.name.c_str(), kAccessRead, kShareRead,
                                         Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  // Asked only when the open fails, so that a record of a million pieces
  // costs one call a piece: a piece that is not there is missing, one that
  // is there and cannot be opened is unreadable.
  if (file == InvalidHandle()) {
    check.error = platform_.GetLastError();
    if (!platform_.PathFileExists(check.name.c_str())) {
      check.state = PieceState::kMissing;
      check.error = 0;
      return;
    }
    check.state = PieceState::kUnreadable;
    check.open_failed = true;
    return;
  }
  Md5Context own;
  Md5Init(&own);
  Md5Context* const joined = merge_.joining();
  const bool complete =
      ReadAndHash(file, [&own, joined](const unsigned char* bytes, std::uint32_t size) {
        if (joined != nullptr) {
          Md5UpdateBoth(&own, joined, bytes, static_cast<std::int32_t>(size));
        } else {
          Md5Update(&own, bytes, static_cast<std::int32_t>(size));
        }
      });
  check.error = platform_.GetLastError();
  Close(&file);
  if (!complete) {
    check.state = PieceState::kUnreadable;
    return;
  }
  unsigned char digest[kMd5DigestSize];
  Md5Final(&own, digest);
  const RecordedFingerprint& recorded = set_.recorded(check.number);
  check.state = recorded.Matches(digest) ? PieceState::kOk : PieceState::kFailed;
  check.record_malformed = !recorded.well_formed;
  check.error = 0;
}

}  // namespace

ResultCode Verify(const wchar_t* path, const OperationOptions& options, VerifyReport* report) {
  VerifyReport local;
  VerifyReport& out = report != nullptr ? *report : local;
  out = VerifyReport();
  try {
    VerifyRun run(options, out);
    return run.Run(path);
  } catch (...) {
    (options.platform != nullptr ? *options.platform : DefaultPlatform())
        .SetLastError(kErrorNotEnoughMemory);
    ReportFailure(options.failure, FailedStep::kNoMemory, FileRole::kNone, nullptr,
                  kErrorNotEnoughMemory);
    return RC_FILE_READ;
  }
}

}  // namespace tarvelin
