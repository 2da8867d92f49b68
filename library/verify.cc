// SPDX-License-Identifier: MIT
// The verify: the merge's judgement without the merge's writes.
//
// It walks the same road as the merge so that its verdict is the merge's:
// a file at the path is judged alone against the recorded source
// fingerprint; otherwise the pieces are taken from 0 while they exist and
// while they are recorded, the first one that cannot be opened, read or
// proved decides, and failing that the pieces joined so far are proved
// against the source. Unlike the merge it goes on past the deciding piece,
// so that the user learns the state of every piece in one run.
#include "library/verify.h"

#include <memory>
#include <new>

#include "digest/fingerprint.h"
#include "digest/md5.h"
#include "library/file_helpers.h"
#include "library/manifest.h"
#include "library/naming.h"
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
        report_(report) {}
  VerifyRun(const VerifyRun&) = delete;
  VerifyRun& operator=(const VerifyRun&) = delete;

  ResultCode Run();

 private:
  void ReadRecord();
  void MeasureForProgress();
  void CheckPieces();
  void CheckPiece(PieceCheck& check, const std::wstring& recorded);
  void Decide(const PieceCheck& check);
  void FindUnrecorded();
  void ProveJoined();
  ResultCode JudgeExistingFile();
  ResultCode JudgeJoinedPieces() const;

  Platform& platform_;
  const wchar_t* path_;
  ProgressReporter progress_;
  VerifyReport& report_;

  wchar_t base_path_[kNameCapacity] = {};
  wchar_t manifest_path_[kNameCapacity] = {};
  wchar_t rebuilt_name_[kNameCapacity] = {};
  std::wstring source_fingerprint_;
  std::vector<std::wstring> recorded_;
  std::unique_ptr<unsigned char[]> buffer_;
  // The recorded pieces joined in order; fed while none has been missing or
  // unreadable, so it then holds exactly what a merge would have appended.
  Md5Context whole_;
  bool joining_ = true;
  bool joined_matches_ = false;
  ResultCode verdict_ = kUndecided;
};

ResultCode VerifyRun::Run() {
  if (!MakeBasePath(path_, base_path_) || !MakeManifestPath(base_path_, manifest_path_) ||
      !MakeRebuiltName(path_, base_path_, rebuilt_name_)) {
    return RC_INVALID_PATH;
  }
  report_.file_exists = platform_.PathFileExists(path_);
  report_.manifest_found = platform_.PathFileExists(manifest_path_);
  if (report_.manifest_found) ReadRecord();

  const bool names_fit = recorded_.empty() || PieceNamesFit(base_path_, recorded_.size() - 1);
  if (!names_fit && !report_.file_exists) return RC_INVALID_PATH;
  buffer_.reset(new (std::nothrow) unsigned char[kChunkSize]);
  if (!buffer_) {
    platform_.SetLastError(kErrorNotEnoughMemory);
    return RC_FILE_READ;
  }

  if (report_.manifest_found && names_fit) {
    MeasureForProgress();
    CheckPieces();
    ProveJoined();
  }
  FindUnrecorded();

  // The merge looks no further than a file already at the path.
  if (report_.file_exists) return report_.manifest_found ? JudgeExistingFile() : RC_OK;
  if (!report_.manifest_found) return RC_MANIFEST_NOT_FOUND;
  return JudgeJoinedPieces();
}

void VerifyRun::ReadRecord() {
  source_fingerprint_ = ReadManifestValue(platform_, kSourceSection, kValueKey, manifest_path_);
  report_.source_fingerprint_recorded = !source_fingerprint_.empty();
  recorded_ = ReadPieceFingerprints(platform_, manifest_path_);
}

// Only for the progress display: without a callback nothing is measured.
void VerifyRun::MeasureForProgress() {
  if (!progress_.active()) return;
  std::uint64_t total = 0;
  for (std::size_t piece = 0; piece < recorded_.size(); ++piece) {
    wchar_t name[kNameCapacity] = {};
    std::uint64_t size = 0;
    MakePieceName(base_path_, static_cast<std::int32_t>(piece), name);
    if (QueryFileSize(platform_, name, &size) == RC_OK) total += size;
  }
  std::uint64_t existing = 0;
  if (report_.file_exists && QueryFileSize(platform_, path_, &existing) == RC_OK) {
    total += existing;
  }
  progress_.SetTotals(total, static_cast<std::int32_t>(recorded_.size()));
}

void VerifyRun::CheckPieces() {
  Md5Init(&whole_);
  report_.pieces.resize(recorded_.size());
  for (std::size_t n = 0; n < recorded_.size(); ++n) {
    PieceCheck& check = report_.pieces[n];
    check.number = static_cast<std::int32_t>(n);
    wchar_t name[kNameCapacity] = {};
    MakePieceName(base_path_, check.number, name);
    check.name = name;
    if (!platform_.PathFileExists(name)) {
      check.state = PieceState::kMissing;
    } else {
      CheckPiece(check, recorded_[n]);
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
// the digest of the whole.
void VerifyRun::CheckPiece(PieceCheck& check, const std::wstring& recorded) {
  progress_.Enter(Phase::kVerifyPiece, check.number);
  FileHandle file = platform_.CreateFile(check.name.c_str(), kAccessRead, kShareRead,
                                         Disposition::kOpenExisting, Attribute::kReadOnly);
  if (file == InvalidHandle()) {
    check.state = PieceState::kUnreadable;
    check.open_failed = true;
    check.error = platform_.GetLastError();
    return;
  }
  Md5Context own;
  Md5Init(&own);
  for (;;) {
    std::uint32_t got = 0;
    if (!platform_.ReadFile(file, buffer_.get(), kChunkSize, &got)) {
      check.state = PieceState::kUnreadable;
      check.error = platform_.GetLastError();
      platform_.CloseHandle(file);
      return;
    }
    if (got == 0) break;
    Md5Update(&own, buffer_.get(), static_cast<std::int32_t>(got));
    if (joining_) Md5Update(&whole_, buffer_.get(), static_cast<std::int32_t>(got));
    progress_.Advance(got);
  }
  platform_.CloseHandle(file);

  unsigned char digest[kMd5DigestSize];
  Md5Final(&own, digest);
  wchar_t text[kFingerprintTextCapacity] = {};
  FormatFingerprintText(digest, text);
  check.state = recorded == text ? PieceState::kOk : PieceState::kFailed;
}

// The merge stops at the first piece that does not exist (the whole decides
// then), cannot be opened, cannot be read whole, or does not match.
void VerifyRun::Decide(const PieceCheck& check) {
  if (verdict_ != kUndecided) return;
  switch (check.state) {
    case PieceState::kOk:
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
  for (std::uint64_t n = recorded_.size(); n <= static_cast<std::uint64_t>(INT32_MAX); ++n) {
    wchar_t name[kNameCapacity] = {};
    if (!MakePieceName(base_path_, static_cast<std::int32_t>(n), name)) break;
    if (!platform_.PathFileExists(name)) break;
    report_.unrecorded.push_back(name);
  }
}

ResultCode VerifyRun::JudgeExistingFile() {
  progress_.Enter(Phase::kVerifyWhole, -1);
  wchar_t text[kFingerprintTextCapacity] = {};
  if (!FingerprintWholeFile(platform_, path_, text, progress_.byte_sink())) {
    report_.existing = WholeState::kUnreadable;
    return RC_FILE_READ;
  }
  report_.existing = source_fingerprint_ == text ? WholeState::kMatches : WholeState::kDiffers;
  return report_.existing == WholeState::kMatches ? RC_OK : RC_DIGEST_MISMATCH;
}

// The pieces joined up to where the join stopped, against the source.
void VerifyRun::ProveJoined() {
  unsigned char digest[kMd5DigestSize];
  Md5Final(&whole_, digest);
  wchar_t text[kFingerprintTextCapacity] = {};
  FormatFingerprintText(digest, text);
  joined_matches_ = source_fingerprint_ == text;
  if (report_.joined == WholeState::kNotChecked) {
    report_.joined = joined_matches_ ? WholeState::kMatches : WholeState::kDiffers;
  }
}

ResultCode VerifyRun::JudgeJoinedPieces() const {
  // A missing piece ends the merge's loop; what was joined before it decides.
  if (verdict_ != kUndecided && verdict_ != RC_OK) return verdict_;
  return joined_matches_ ? RC_OK : RC_DIGEST_MISMATCH;
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
    return RC_FILE_READ;
  } catch (...) {
    return RC_FILE_READ;
  }
}

}  // namespace tarvelin
