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
#include "library/manifest.h"
#include "library/naming.h"
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
        progress_(options) {}
  ~MergeRun() { CloseAll(); }
  MergeRun(const MergeRun&) = delete;
  MergeRun& operator=(const MergeRun&) = delete;

  ResultCode Run();

 private:
  ResultCode CheckExistingFile();
  ResultCode ReadRecordedFingerprints();
  void MeasurePiecesForProgress();
  ResultCode ProvePiece(std::int32_t piece, const wchar_t* piece_name);
  ResultCode JoinPiece(std::int32_t piece, const wchar_t* piece_name);
  ResultCode FlushAndDeleteJoined();
  ResultCode CopyPiece(FileHandle piece, const wchar_t* piece_name);
  void CloseAll();
  ResultCode Fail(ResultCode code) {
    CloseAll();
    return code;
  }

  Platform& platform_;
  const wchar_t* path_;
  ProgressReporter progress_;

  FileHandle rebuilt_ = nullptr;
  FileHandle piece_ = nullptr;
  wchar_t base_path_[kNameCapacity] = {};
  wchar_t manifest_path_[kNameCapacity] = {};
  wchar_t rebuilt_name_[kNameCapacity] = {};
  std::wstring source_fingerprint_;
  std::vector<std::wstring> recorded_;  // the fingerprint of piece n at index n
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
  if (!platform_.PathFileExists(manifest_path_)) return RC_OK;
  source_fingerprint_ = ReadManifestValue(platform_, kSourceSection, kValueKey, manifest_path_);
  wchar_t fingerprint[kFingerprintTextCapacity] = {};
  if (progress_.active()) {
    std::uint64_t size = 0;
    QueryFileSize(platform_, path_, &size);
    progress_.SetTotals(size, 0);
  }
  progress_.Enter(Phase::kVerifyWhole, -1);
  if (!FingerprintWholeFile(platform_, path_, fingerprint, progress_.byte_sink())) {
    return RC_FILE_READ;
  }
  return source_fingerprint_ == fingerprint ? RC_OK : RC_DIGEST_MISMATCH;
}

ResultCode MergeRun::ReadRecordedFingerprints() {
  source_fingerprint_ = ReadManifestValue(platform_, kSourceSection, kValueKey, manifest_path_);
  recorded_ = ReadPieceFingerprints(platform_, manifest_path_);
  return RC_OK;
}

// Only for the progress display: the exports pass no callback and make no
// extra calls.
void MergeRun::MeasurePiecesForProgress() {
  if (!progress_.active()) return;
  std::uint64_t total = 0;
  for (std::size_t piece = 0; piece < recorded_.size(); ++piece) {
    wchar_t name[kNameCapacity] = {};
    std::uint64_t size = 0;
    if (!MakePieceName(base_path_, static_cast<std::int32_t>(piece), name)) break;
    if (QueryFileSize(platform_, name, &size) != RC_OK) break;
    total += size;
  }
  progress_.SetTotals(3 * total, static_cast<std::int32_t>(recorded_.size()));
}

ResultCode MergeRun::Run() {
  if (!MakeBasePath(path_, base_path_) || !MakeManifestPath(base_path_, manifest_path_) ||
      !MakeRebuiltName(path_, base_path_, rebuilt_name_)) {
    return RC_INVALID_PATH;
  }
  if (platform_.PathFileExists(path_)) return CheckExistingFile();
  if (!platform_.PathFileExists(manifest_path_)) return RC_MANIFEST_NOT_FOUND;

  try {
    ReadRecordedFingerprints();
  } catch (const std::bad_alloc&) {
    platform_.SetLastError(kErrorNotEnoughMemory);
    return RC_FILE_READ;
  }
  if (!recorded_.empty() && !PieceNamesFit(base_path_, recorded_.size() - 1)) {
    return RC_INVALID_PATH;
  }
  buffer_.reset(new (std::nothrow) unsigned char[kChunkSize]);
  if (!buffer_) {
    platform_.SetLastError(kErrorNotEnoughMemory);
    return RC_FILE_READ;
  }
  MeasurePiecesForProgress();

  // Opened, never truncated: a file that the existence check missed (it can
  // fail for reasons other than absence) or that appeared since may be the
  // only copy of the bytes. One that holds anything is left alone.
  rebuilt_ = platform_.CreateFile(rebuilt_name_, kAccessRead | kAccessWrite, kShareNone,
                                  Disposition::kOpenAlways, Attribute::kNormal);
  if (rebuilt_ == InvalidHandle()) {
    rebuilt_ = nullptr;
    return RC_FILE_OPEN;
  }
  unsigned char first_byte = 0;
  std::uint32_t got = 0;
  if (!platform_.ReadFile(rebuilt_, &first_byte, 1, &got)) return Fail(RC_FILE_OPEN);
  if (got != 0) {
    platform_.SetLastError(kErrorFileExists);
    return Fail(RC_FILE_OPEN);
  }
  // The new file's folder entry must be durable before any piece goes.
  if (!platform_.FlushFolderOf(rebuilt_name_)) return Fail(RC_FILE_WRITE);

  // A piece file beyond the recorded ones (left by an earlier, longer split)
  // is never appended: it has nothing to be proved against.
  for (std::int32_t piece = 0; static_cast<std::size_t>(piece) < recorded_.size(); ++piece) {
    wchar_t piece_name[kNameCapacity] = {};
    MakePieceName(base_path_, piece, piece_name);
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

  progress_.Enter(Phase::kVerifyWhole, -1);
  wchar_t fingerprint[kFingerprintTextCapacity] = {};
  if (!FingerprintWholeFile(platform_, rebuilt_name_, fingerprint, progress_.byte_sink())) {
    return RC_FILE_READ;
  }
  if (source_fingerprint_ != fingerprint) return RC_DIGEST_MISMATCH;

  platform_.SetFileAttributes(manifest_path_, Attribute::kNormal);
  if (!platform_.DeleteFile(manifest_path_)) return RC_FILE_DELETE;
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
    return RC_FILE_OPEN;
  }
  progress_.Enter(Phase::kVerifyPiece, piece);
  wchar_t fingerprint[kFingerprintTextCapacity] = {};
  // A piece that cannot be read whole is not proved, whatever was recorded.
  if (!FingerprintWholeFile(platform_, piece_name, fingerprint, progress_.byte_sink())) {
    return RC_FILE_READ;
  }
  if (recorded_[static_cast<std::size_t>(piece)] != fingerprint) return RC_DIGEST_MISMATCH;
  return RC_OK;
}

// Appends the proved, held piece and lets it go; it is deleted after the
// next piece has been proved.
ResultCode MergeRun::JoinPiece(std::int32_t piece, const wchar_t* piece_name) {
  progress_.Enter(Phase::kJoinPiece, piece);
  const ResultCode copied = CopyPiece(piece_, piece_name);
  if (copied != RC_OK) return copied;
  platform_.CloseHandle(piece_);
  piece_ = nullptr;
  joined_ = piece;
  return RC_OK;
}

// Makes every byte appended so far durable, then deletes the piece joined
// last, if one waits.
ResultCode MergeRun::FlushAndDeleteJoined() {
  if (!platform_.FlushFileBuffers(rebuilt_)) return RC_FILE_WRITE;
  if (joined_ < 0) return RC_OK;
  wchar_t piece_name[kNameCapacity] = {};
  MakePieceName(base_path_, joined_, piece_name);
  joined_ = -1;
  platform_.SetFileAttributes(piece_name, Attribute::kNormal);
  if (!platform_.DeleteFile(piece_name)) return RC_FILE_DELETE;
  return RC_OK;
}

ResultCode MergeRun::CopyPiece(FileHandle piece, const wchar_t* piece_name) {
  // The piece is held with read sharing only, so its size cannot change under
  // us; a failed query leaves 0 and stops the copy after the first chunk.
  std::uint64_t size = 0;
  QueryFileSize(platform_, piece_name, &size);
  std::uint64_t total = 0;
  for (;;) {
    std::uint32_t got = 0;
    if (!platform_.ReadFile(piece, buffer_.get(), kChunkSize, &got)) return Fail(RC_FILE_READ);
    if (got == 0) return RC_OK;
    total += got;
    std::uint32_t written = 0;
    if (!platform_.WriteFile(rebuilt_, buffer_.get(), got, &written)) return Fail(RC_FILE_WRITE);
    if (written != got) {
      platform_.SetLastError(kErrorWriteFault);
      return Fail(RC_FILE_WRITE);
    }
    progress_.Advance(got);
    if (total > size) {
      platform_.SetLastError(kErrorReadFault);
      return Fail(RC_FILE_READ);
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
