// SPDX-License-Identifier: MIT
// The split: source -> pieces + manifest, then the source is deleted.
//
// The source is deleted only after every piece and the manifest are on stable
// storage, so a power loss right after a successful split cannot leave a
// deleted source beside pieces that were still in the cache. Any failure
// before that keeps the source and everything written so far.
//
// The pieces are flushed together at the end, each reopened for it, rather
// than one by one as they are cut: the disk then writes piece n back while
// piece n is fingerprinted and piece n + 1 cut, and a file system that
// journals commits once for many small pieces instead of once per piece.
#include <cstdint>
#include <memory>
#include <new>

#include "digest/fingerprint.h"
#include "library/file_helpers.h"
#include "library/manifest.h"
#include "library/naming.h"
#include "library/operations.h"
#include "library/progress_reporter.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

// The piece limit in bytes: the MiB count sign-extended to 64 bits, compared
// as unsigned, so a negative count is a limit that is never exceeded.
std::uint64_t PieceLimit(std::int32_t piece_size_mib) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(piece_size_mib) * 1048576);
}

// The number of the last piece that a source of `size` bytes gives, reading
// whole chunks until the last.
std::uint64_t HighestPiece(std::uint64_t size, std::uint64_t limit) {
  if (size == 0) return 0;
  const std::uint64_t chunks = (size + kChunkSize - 1) / kChunkSize;
  if (limit == 0) return chunks;  // an empty piece 0, then one chunk per piece
  const std::uint64_t chunks_per_piece = limit < kChunkSize ? 1 : limit / kChunkSize;
  return (chunks - 1) / chunks_per_piece;
}

class SplitRun {
 public:
  SplitRun(const wchar_t* path, std::int32_t piece_size_mib, const OperationOptions& options)
      : platform_(options.platform != nullptr ? *options.platform : DefaultPlatform()),
        path_(path),
        limit_(PieceLimit(piece_size_mib)),
        progress_(options) {}
  ~SplitRun() {
    if (source_ != nullptr || piece_ != nullptr || manifest_ != nullptr) Fail(RC_FILE_READ);
  }
  SplitRun(const SplitRun&) = delete;
  SplitRun& operator=(const SplitRun&) = delete;

  ResultCode Run();

 private:
  ResultCode Cut();
  ResultCode CreatePiece();
  // Opens piece `number` with read and write access into piece_; on failure
  // closes everything and returns `failure`.
  ResultCode OpenPiece(std::int32_t number, std::uint32_t share, Disposition disposition,
                       ResultCode failure);
  ResultCode FinishPiece();
  ResultCode MakeDurable();
  ResultCode FlushPiece(std::int32_t piece);
  // Closes whatever is still open, keeping the pending error, and returns `code`.
  ResultCode Fail(ResultCode code);
  ResultCode FailWith(ResultCode code, std::uint32_t error) {
    platform_.SetLastError(error);
    return Fail(code);
  }
  // A fingerprint that could not read its whole file; the failing open or
  // read left its error, if it had one.
  ResultCode FailUnread() {
    if (platform_.GetLastError() == 0) platform_.SetLastError(kErrorReadFault);
    return Fail(RC_FILE_READ);
  }

  Platform& platform_;
  const wchar_t* path_;
  const std::uint64_t limit_;
  ProgressReporter progress_;

  FileHandle source_ = nullptr;
  FileHandle manifest_ = nullptr;
  FileHandle piece_ = nullptr;
  std::uint64_t size_ = 0;
  std::int32_t piece_number_ = 0;
  std::int32_t piece_count_ = 0;
  wchar_t base_path_[kNameCapacity] = {};
  wchar_t manifest_path_[kNameCapacity] = {};
  wchar_t piece_name_[kNameCapacity] = {};
  std::unique_ptr<unsigned char[]> buffer_;
};

ResultCode SplitRun::Fail(ResultCode code) {
  CloseHandlesKeepError(platform_, source_, piece_, manifest_);
  source_ = piece_ = manifest_ = nullptr;
  return code;
}

ResultCode SplitRun::Run() {
  if (!PathFits(path_)) return RC_INVALID_PATH;
  if (!platform_.PathFileExists(path_)) return RC_SOURCE_NOT_FOUND;

  source_ = platform_.CreateFile(path_, kAccessRead, kShareRead, Disposition::kOpenExisting,
                                 Attribute::kReadOnly);
  if (source_ == InvalidHandle()) {
    source_ = nullptr;
    return RC_FILE_OPEN;
  }
  // A failed measurement leaves the size at 0; the copy then stops at the
  // first chunk beyond it and the source is kept.
  QueryFileSize(platform_, path_, &size_);

  // Every name must fit before anything on disk changes.
  const std::uint64_t highest = HighestPiece(size_, limit_);
  if (!MakeBasePath(path_, base_path_) || !MakeManifestPath(base_path_, manifest_path_) ||
      !PieceNamesFit(base_path_, highest)) {
    return FailWith(RC_INVALID_PATH, kErrorFilenameExcedRange);
  }
  piece_count_ = static_cast<std::int32_t>(highest + 1);

  buffer_.reset(new (std::nothrow) unsigned char[kChunkSize]);
  if (!buffer_) return FailWith(RC_FILE_READ, kErrorNotEnoughMemory);

  // The manifest is created empty so that it holds nothing of an earlier
  // split. Its creation is not checked: the profile writes decide.
  manifest_ = platform_.CreateFile(manifest_path_, kAccessRead | kAccessWrite,
                                   kShareRead | kShareWrite, Disposition::kCreateAlways,
                                   Attribute::kNormal);
  if (manifest_ == InvalidHandle()) manifest_ = nullptr;

  progress_.SetTotals(3 * size_, piece_count_);
  progress_.Enter(Phase::kFingerprintSource, -1);
  wchar_t fingerprint[kFingerprintTextCapacity] = {};
  // A source that cannot be read whole would be recorded with a text that
  // vouches for nothing, and then deleted.
  if (!FingerprintWholeFile(platform_, path_, fingerprint, progress_.byte_sink())) {
    return FailUnread();
  }
  if (!platform_.WritePrivateProfileString(kSourceSection, kValueKey, fingerprint,
                                           manifest_path_)) {
    return Fail(RC_MANIFEST_WRITE);
  }

  const ResultCode cut = Cut();
  if (cut != RC_OK) return cut;
  const ResultCode durable = MakeDurable();
  if (durable != RC_OK) return durable;
  CloseHandlesKeepError(platform_, source_, nullptr, manifest_);
  source_ = manifest_ = nullptr;

  platform_.SetFileAttributes(path_, Attribute::kNormal);
  if (!platform_.DeleteFile(path_)) return RC_FILE_DELETE;
  return RC_OK;
}

ResultCode SplitRun::OpenPiece(std::int32_t number, std::uint32_t share,
                               Disposition disposition, ResultCode failure) {
  if (!MakePieceName(base_path_, number, piece_name_)) {
    return FailWith(RC_INVALID_PATH, kErrorFilenameExcedRange);
  }
  piece_ = platform_.CreateFile(piece_name_, kAccessRead | kAccessWrite, share, disposition,
                                Attribute::kNormal);
  if (piece_ == InvalidHandle()) {
    piece_ = nullptr;
    return Fail(failure);
  }
  return RC_OK;
}

ResultCode SplitRun::CreatePiece() {
  const ResultCode opened =
      OpenPiece(piece_number_, kShareNone, Disposition::kCreateAlways, RC_FILE_OPEN);
  if (opened != RC_OK) return opened;
  progress_.Enter(Phase::kCutPiece, piece_number_);
  return RC_OK;
}

// Closes, fingerprints and records the current piece. The piece is opened
// exclusively, so it must be closed before it can be fingerprinted.
ResultCode SplitRun::FinishPiece() {
  if (!platform_.CloseHandle(piece_)) {
    piece_ = nullptr;
    return Fail(RC_FILE_WRITE);
  }
  piece_ = nullptr;

  progress_.Enter(Phase::kFingerprintPiece, piece_number_);
  wchar_t fingerprint[kFingerprintTextCapacity] = {};
  if (!FingerprintWholeFile(platform_, piece_name_, fingerprint, progress_.byte_sink())) {
    return FailUnread();
  }
  wchar_t key[kNameCapacity] = {};
  MakePieceKey(piece_number_, key);
  if (!platform_.WritePrivateProfileString(kPieceSection, key, fingerprint, manifest_path_)) {
    return Fail(RC_MANIFEST_WRITE);
  }
  return RC_OK;
}

ResultCode SplitRun::Cut() {
  piece_number_ = 0;
  ResultCode result = CreatePiece();
  if (result != RC_OK) return result;

  std::uint64_t total = 0;
  std::uint64_t fill = 0;
  for (;;) {
    std::uint32_t got = 0;
    if (!platform_.ReadFile(source_, buffer_.get(), kChunkSize, &got)) return Fail(RC_FILE_READ);
    if (got == 0) break;
    total += got;
    fill += got;
    // A chunk is never divided: the one that would carry the piece past its
    // limit starts the next piece.
    if (fill > limit_) {
      if ((result = FinishPiece()) != RC_OK) return result;
      ++piece_number_;
      if ((result = CreatePiece()) != RC_OK) return result;
      fill = got;
    }
    std::uint32_t written = 0;
    if (!platform_.WriteFile(piece_, buffer_.get(), got, &written)) return Fail(RC_FILE_WRITE);
    // A write that took less than the chunk would lose bytes that the
    // fingerprint of the piece would then vouch for.
    if (written != got) return FailWith(RC_FILE_WRITE, kErrorWriteFault);
    progress_.Advance(got);
    // More bytes than were measured: the measurement failed, and the pieces
    // could not be trusted to hold the whole source.
    if (total > size_) return FailWith(RC_FILE_READ, kErrorReadFault);
  }
  return FinishPiece();
}

// Reopens a finished piece with the write access that a flush needs, and
// flushes it. Others may read it meanwhile, as they could once it was closed.
ResultCode SplitRun::FlushPiece(std::int32_t piece) {
  const ResultCode opened =
      OpenPiece(piece, kShareRead, Disposition::kOpenExisting, RC_FILE_WRITE);
  if (opened != RC_OK) return opened;
  if (!platform_.FlushFileBuffers(piece_)) return Fail(RC_FILE_WRITE);
  const bool closed = platform_.CloseHandle(piece_);
  piece_ = nullptr;
  return closed ? RC_OK : Fail(RC_FILE_WRITE);
}

// Every piece, then the manifest through its own handle (the profile writes
// opened it by name), then the folder, for the entries of the pieces and the
// manifest.
ResultCode SplitRun::MakeDurable() {
  progress_.Enter(Phase::kFlushPieces, -1);
  for (std::int32_t piece = 0; piece <= piece_number_; ++piece) {
    const ResultCode flushed = FlushPiece(piece);
    if (flushed != RC_OK) return flushed;
  }
  FileHandle manifest = manifest_;
  if (manifest == nullptr) {
    // Its creation failed at the start, yet the profile writes went through.
    manifest = platform_.CreateFile(manifest_path_, kAccessRead | kAccessWrite,
                                    kShareRead | kShareWrite, Disposition::kOpenExisting,
                                    Attribute::kNormal);
    if (manifest == InvalidHandle()) return Fail(RC_FILE_WRITE);
    manifest_ = manifest;
  }
  if (!platform_.FlushFileBuffers(manifest) || !platform_.FlushFolderOf(manifest_path_)) {
    return Fail(RC_FILE_WRITE);
  }
  return RC_OK;
}

}  // namespace

ResultCode Split(const wchar_t* path, std::int32_t piece_size_mib,
                 const OperationOptions& options) {
  try {
    SplitRun run(path, piece_size_mib, options);
    return run.Run();
  } catch (...) {
    // Nothing in the split throws; this only keeps the promise of the boundary.
    return RC_FILE_READ;
  }
}

}  // namespace tarvelin
