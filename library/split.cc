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
//
// The source is held open from start to end, sharing reading only: readers
// are welcome, writers that go through the platform are refused. The
// manifest is what excludes a second split of it, and a merge that would
// tidy it away: it is created new and held with write access, which neither
// shares. Every piece and the manifest are created as new files, no more
// open to others than the source from their first byte, after output of an
// earlier split of this same source has been cleared (stale_output.h); a
// piece is fingerprinted through the handle that wrote it, and every record
// is written through the handle that holds the manifest, never through its
// name. Before the source goes, the split proves that the file at the
// manifest's name is its own and holds exactly its records, and that the
// source is what was fingerprinted and cut, after every flush; then it
// deletes the very file it cut, through a handle that nobody can share, so a
// file put at its name meanwhile is never taken for it.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "digest/fingerprint.h"
#include "library/file_helpers.h"
#include "library/judged_file.h"
#include "library/manifest.h"
#include "library/naming.h"
#include "library/operations.h"
#include "library/progress_reporter.h"
#include "library/split_set.h"
#include "library/stale_output.h"
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
        progress_(options),
        report_(options.failure) {}
  ~SplitRun() {
    if (source_ != nullptr || piece_ != nullptr || manifest_ != nullptr) Fail(RC_FILE_READ);
  }
  SplitRun(const SplitRun&) = delete;
  SplitRun& operator=(const SplitRun&) = delete;

  ResultCode Run();

 private:
  ResultCode OpenAndMeasureSource();
  ResultCode FingerprintSource(unsigned char* digest);
  ResultCode CreateManifest(const unsigned char* digest);
  ResultCode ProveManifest();
  ResultCode CheckSourceUnchanged(std::uint64_t bytes_cut);
  ResultCode DeleteSource();
  ResultCode Cut();
  ResultCode CreatePiece();
  // Opens piece `number` with read and write access into piece_; on failure
  // closes everything and returns `failure`.
  ResultCode OpenPiece(std::int32_t number, std::uint32_t share, Disposition disposition,
                       ResultCode failure);
  ResultCode FinishPiece(std::uint64_t bytes);
  ResultCode MakeDurable();
  ResultCode FlushPiece(std::int32_t piece);
  ResultCode ConfirmPieces();
  ResultCode PieceChanged(std::int32_t piece);
  // Closes whatever is still open, keeping the pending error, and returns `code`.
  ResultCode Fail(ResultCode code);
  // Tells the report what stopped the split, with the pending last-error
  // value, then fails with `code`.
  ResultCode Fail(ResultCode code, FailedStep step, FileRole role, const wchar_t* file) {
    ReportFailure(report_, step, role, file, platform_.GetLastError(),
                  role == FileRole::kPiece ? named_piece_ : -1);
    return Fail(code);
  }
  ResultCode FailWith(ResultCode code, std::uint32_t error, FailedStep step, FileRole role,
                      const wchar_t* file) {
    platform_.SetLastError(error);
    return Fail(code, step, role, file);
  }
  ResultCode FailOnPiece(ResultCode code, FailedStep step) {
    return Fail(code, step, FileRole::kPiece, piece_name_);
  }
  // A fingerprint that could not read its whole file; the failing open or
  // read left its error, if it had one.
  ResultCode FailUnread(FileRole role, const wchar_t* file) {
    if (platform_.GetLastError() == 0) platform_.SetLastError(kErrorReadFault);
    return Fail(RC_FILE_READ, FailedStep::kRead, role, file);
  }

  Platform& platform_;
  // One hashing thread for every file this operation fingerprints.
  HashingThread hashing_{platform_};
  const wchar_t* path_;
  const std::uint64_t limit_;
  ProgressReporter progress_;
  FailureReport* report_;

  FileHandle source_ = nullptr;
  FileHandle manifest_ = nullptr;
  FileHandle piece_ = nullptr;
  std::uint64_t size_ = 0;
  FileInformation source_at_start_;
  bool measured_ = false;
  // Each piece as it stood once written and closed: its identity, size and
  // times, which must hold until the source is deleted.
  std::vector<FileInformation> pieces_;
  std::int32_t piece_number_ = 0;
  std::int32_t piece_count_ = 0;
  std::uint64_t bytes_cut_ = 0;
  // The pieces as read back for their fingerprints, joined: once the last is
  // read, it must be the source's fingerprint, or some piece does not hold
  // what was written into it.
  Md5Context joined_;
  unsigned char source_digest_[kMd5DigestSize] = {};
  SplitSet set_;
  ManifestWriter records_;
  wchar_t piece_name_[kNameCapacity] = {};
  std::int32_t named_piece_ = 0;  // the piece that piece_name_ names
  std::unique_ptr<unsigned char[]> buffer_;
};

ResultCode SplitRun::Fail(ResultCode code) {
  CloseHandlesKeepError(platform_, source_, piece_, manifest_);
  source_ = piece_ = manifest_ = nullptr;
  return code;
}

ResultCode SplitRun::Run() {
  if (!PathFits(path_) || !set_.Derive(path_)) {
    ReportFailure(report_, FailedStep::kNameTooLong, FileRole::kSource, path_, 0);
    return RC_INVALID_PATH;
  }
  // Checked before anything is opened: opening a device may wait for ever.
  if (set_.NamesADevice()) {
    ReportFailure(report_, FailedStep::kDeviceName, FileRole::kSource, path_, 0);
    return RC_INVALID_PATH;
  }
  if (!platform_.PathFileExists(path_)) {
    ReportFailure(report_, FailedStep::kNotFound, FileRole::kSource, path_,
                  platform_.GetLastError());
    return RC_SOURCE_NOT_FOUND;
  }

  const ResultCode opened = OpenAndMeasureSource();
  if (opened != RC_OK) return opened;

  // Every name must fit before anything on disk changes.
  const std::uint64_t highest = HighestPiece(size_, limit_);
  if (!PieceNamesFit(set_.base(), highest)) {
    return FailWith(RC_INVALID_PATH, kErrorFilenameExcedRange, FailedStep::kNameTooLong,
                    FileRole::kSource, path_);
  }
  piece_count_ = static_cast<std::int32_t>(highest + 1);

  buffer_.reset(new (std::nothrow) unsigned char[kChunkSize]);
  if (!buffer_) {
    return FailWith(RC_FILE_READ, kErrorNotEnoughMemory, FailedStep::kNoMemory, FileRole::kNone,
                    nullptr);
  }

  progress_.SetTotals(3 * size_, piece_count_);
  unsigned char* const digest = source_digest_;
  ResultCode result = FingerprintSource(digest);
  if (result != RC_OK) return result;

  // Only output of this same source, proved by its bytes, may stand at the
  // names to create.
  const HeldSource held{source_, source_at_start_, digest};
  result = ClearStaleOutput(platform_, set_, static_cast<std::int32_t>(highest), held,
                            buffer_.get(), progress_, report_);
  if (result != RC_OK) return Fail(result);

  if ((result = CreateManifest(digest)) != RC_OK) return result;
  if ((result = Cut()) != RC_OK) return result;
  if ((result = MakeDurable()) != RC_OK) return result;
  if ((result = ProveManifest()) != RC_OK) return result;
  if ((result = CheckSourceUnchanged(bytes_cut_)) != RC_OK) return result;
  if ((result = ConfirmPieces()) != RC_OK) return result;
  return DeleteSource();
}

// The manifest is new, so it holds nothing of an earlier split and is no
// link; it is held with write access until the split returns, which keeps
// a second split and a merge's tidy away from this set, and every record is
// written through this handle.
ResultCode SplitRun::CreateManifest(const unsigned char* digest) {
  manifest_ = platform_.CreateFile(set_.manifest(), kAccessRead | kAccessWrite, kShareRead,
                                   Disposition::kCreateNew, Attribute::kNormal, source_);
  if (manifest_ == InvalidHandle()) {
    manifest_ = nullptr;
    // A name taken since the look at the names is in the way; any other
    // failure (a full disk, no inode left) leaves the fingerprint
    // unrecorded, as it always has.
    const bool taken = platform_.GetLastError() == kErrorFileExists;
    return Fail(taken ? RC_FILE_OPEN : RC_MANIFEST_WRITE, FailedStep::kCreate,
                FileRole::kManifest, set_.manifest());
  }
  if (!records_.Append(platform_, manifest_, SourceRecordText(digest))) {
    return Fail(RC_MANIFEST_WRITE, FailedStep::kRecord, FileRole::kManifest, set_.manifest());
  }
  return RC_OK;
}

// The file at the manifest's name must be the one this split created and
// hold exactly its records: one that another program moved away, replaced or
// wrote into would not rebuild the source, which is then the only copy.
ResultCode SplitRun::ProveManifest() {
  switch (records_.CheckAt(platform_, manifest_, set_.manifest())) {
    case ManifestWriter::Check::kIntact: return RC_OK;
    case ManifestWriter::Check::kChanged:
      return Fail(RC_MANIFEST_WRITE, FailedStep::kChanged, FileRole::kManifest, set_.manifest());
    case ManifestWriter::Check::kUnchecked: break;
  }
  return Fail(RC_MANIFEST_WRITE, FailedStep::kRead, FileRole::kManifest, set_.manifest());
}

// The source is let go only now, and the file at its name is deleted only
// when it is the file that was cut, unchanged, through a handle that shares
// nothing: a reader that comes between makes the deletion fail (the source
// stays), and a file put at the name meanwhile is left alone. It goes only
// while the manifest and every piece stand as they were proved, compared in
// the very call that deletes. The manifest is held until the end, so that no
// merge can tidy this set away.
ResultCode SplitRun::DeleteSource() {
  std::vector<std::wstring> names;
  std::vector<KeptFile> kept;
  FileInformation manifest;
  if (!platform_.GetFileInformationByHandle(manifest_, &manifest)) {
    return Fail(RC_MANIFEST_WRITE, FailedStep::kRead, FileRole::kManifest, set_.manifest());
  }
  try {
    for (std::int32_t piece = 0; piece <= piece_number_; ++piece) {
      names.push_back(set_.PieceName(piece));
    }
    kept.push_back({set_.manifest(), manifest, manifest_});
    for (std::int32_t piece = 0; piece <= piece_number_; ++piece) {
      kept.push_back({names[static_cast<std::size_t>(piece)].c_str(),
                      pieces_[static_cast<std::size_t>(piece)], nullptr});
    }
  } catch (const std::bad_alloc&) {
    return FailWith(RC_FILE_READ, kErrorNotEnoughMemory, FailedStep::kNoMemory, FileRole::kNone,
                    nullptr);
  }
  CloseHandlesKeepError(platform_, source_, nullptr, nullptr);
  source_ = nullptr;
  switch (DeleteIfUnchanged(platform_, path_, source_at_start_, kept)) {
    case Deletion::kDeleted:
      CloseHandlesKeepError(platform_, nullptr, nullptr, manifest_);
      manifest_ = nullptr;
      return RC_OK;
    case Deletion::kGone:
    case Deletion::kChanged: {
      // What changed in the instant before the deletion: the manifest, a
      // piece, or the source.
      if (records_.CheckAt(platform_, manifest_, set_.manifest()) !=
          ManifestWriter::Check::kIntact) {
        return Fail(RC_MANIFEST_WRITE, FailedStep::kChanged, FileRole::kManifest,
                    set_.manifest());
      }
      const ResultCode pieces = ConfirmPieces();
      if (pieces != RC_OK) return pieces;
      return FailWith(RC_FILE_READ, kErrorReadFault, FailedStep::kChanged, FileRole::kSource,
                      path_);
    }
    case Deletion::kFailed:
      break;
  }
  return Fail(RC_FILE_DELETE, FailedStep::kDelete, FileRole::kSource, path_);
}

// Opened with read sharing: others may read it meanwhile, nobody may write
// or delete it through the platform. A link is not followed: the file cut
// must be the file that the source's name is deleted from. A failed
// measurement leaves the size at 0; the copy then stops at the first chunk
// beyond it and the source is kept.
ResultCode SplitRun::OpenAndMeasureSource() {
  source_ = platform_.CreateFile(path_, kAccessRead, kShareRead, Disposition::kOpenExistingNoLink,
                                 Attribute::kReadOnly);
  if (source_ == InvalidHandle()) {
    source_ = nullptr;
    return Fail(RC_FILE_OPEN, FailedStep::kOpen, FileRole::kSource, path_);
  }
  measured_ = platform_.GetFileInformationByHandle(source_, &source_at_start_);
  size_ = measured_ ? source_at_start_.size : 0;
  return RC_OK;
}

// A source that cannot be read whole would be recorded with a text that
// vouches for nothing, and then deleted.
ResultCode SplitRun::FingerprintSource(unsigned char* digest) {
  progress_.Enter(Phase::kFingerprintSource, -1);
  if (DigestOpenFile(platform_, source_, digest, progress_.byte_sink(), &hashing_) !=
      kDigestFileComplete) {
    return FailUnread(FileRole::kSource, path_);
  }
  return RC_OK;
}

// The bytes cut must be the size measured, and the held source must still
// show that size and the times it had when the split began. It comes after
// every flush, which may take long on a slow disk, right before the source
// is let go; the deletion compares them once more through its own handle.
ResultCode SplitRun::CheckSourceUnchanged(std::uint64_t bytes_cut) {
  FileInformation now;
  if (!measured_ || bytes_cut != size_ || !platform_.GetFileInformationByHandle(source_, &now) ||
      !SameFileUnchanged(source_at_start_, now)) {
    return FailWith(RC_FILE_READ, kErrorReadFault, FailedStep::kChanged, FileRole::kSource,
                    path_);
  }
  return RC_OK;
}

ResultCode SplitRun::OpenPiece(std::int32_t number, std::uint32_t share,
                               Disposition disposition, ResultCode failure) {
  named_piece_ = number;
  if (!set_.PieceName(number, piece_name_)) {
    return FailWith(RC_INVALID_PATH, kErrorFilenameExcedRange, FailedStep::kNameTooLong,
                    FileRole::kSource, path_);
  }
  piece_ = platform_.CreateFile(piece_name_, kAccessRead | kAccessWrite, share, disposition,
                                Attribute::kNormal, source_);
  if (piece_ == InvalidHandle()) {
    piece_ = nullptr;
    const bool creating = disposition == Disposition::kCreateNew;
    // A name that was free when the split looked, taken since.
    const bool appeared = creating && platform_.GetLastError() == kErrorFileExists;
    ReportFailure(report_,
                  appeared ? FailedStep::kAppeared
                           : (creating ? FailedStep::kCreate : FailedStep::kOpen),
                  FileRole::kPiece, piece_name_, platform_.GetLastError(), number);
    return Fail(failure);
  }
  return RC_OK;
}

// A piece is new: nothing at its name is ever written over or followed. It
// is no more open to others than the source from its first byte.
ResultCode SplitRun::CreatePiece() {
  const ResultCode opened =
      OpenPiece(piece_number_, kShareNone, Disposition::kCreateNew, RC_FILE_OPEN);
  if (opened != RC_OK) return opened;
  FileInformation identity;
  if (!platform_.GetFileInformationByHandle(piece_, &identity)) {
    return FailOnPiece(RC_FILE_OPEN, FailedStep::kCreate);
  }
  pieces_.push_back(identity);
  progress_.Enter(Phase::kCutPiece, piece_number_);
  return RC_OK;
}

// Fingerprints the current piece through the handle that wrote it, so the
// text vouches for the bytes written and nobody could change them between,
// then closes and records it, and notes how it stands: the piece must keep
// exactly that size and those times until the source is gone.
ResultCode SplitRun::FinishPiece(std::uint64_t bytes) {
  progress_.Enter(Phase::kFingerprintPiece, piece_number_);
  Md5Context own;
  Md5Init(&own);
  if (!platform_.SetFilePointer(piece_, 0) ||
      !ReadAndHash(
          platform_, piece_,
          [this, &own](const unsigned char* bytes, std::uint32_t size) {
            Md5UpdateBoth(&own, &joined_, bytes, static_cast<std::int32_t>(size));
          },
          [this](std::uint32_t size) { progress_.Advance(size); }, &hashing_)) {
    return FailUnread(FileRole::kPiece, piece_name_);
  }
  unsigned char digest[kMd5DigestSize];
  Md5Final(&own, digest);
  if (!platform_.CloseHandle(piece_)) {
    piece_ = nullptr;
    return FailOnPiece(RC_FILE_WRITE, FailedStep::kClose);
  }
  piece_ = nullptr;
  FileInformation& piece = pieces_[static_cast<std::size_t>(piece_number_)];
  FileInformation now;
  if (!LookAt(platform_, piece_name_, &now)) return FailOnPiece(RC_FILE_WRITE, FailedStep::kOpen);
  // A write that reported more than it stored would leave the record
  // vouching for bytes that are not there.
  if (!SameFile(piece, now) || now.size != bytes) return PieceChanged(piece_number_);
  piece = now;
  if (!records_.Append(platform_, manifest_, PieceRecordText(piece_number_, digest))) {
    return Fail(RC_MANIFEST_WRITE, FailedStep::kRecord, FileRole::kManifest, set_.manifest());
  }
  return RC_OK;
}

// A piece that another program replaced or wrote to since it was cut: the
// record no longer vouches for it, so the source stays.
ResultCode SplitRun::PieceChanged(std::int32_t piece) {
  named_piece_ = piece;
  set_.PieceName(piece, piece_name_);
  return FailWith(RC_FILE_WRITE, kErrorFileExists, FailedStep::kChanged, FileRole::kPiece,
                  piece_name_);
}

// Right before the source goes, every piece is still as it was cut.
ResultCode SplitRun::ConfirmPieces() {
  for (std::int32_t piece = 0; piece <= piece_number_; ++piece) {
    set_.PieceName(piece, piece_name_);
    named_piece_ = piece;
    FileInformation now;
    if (!LookAt(platform_, piece_name_, &now)) {
      const std::uint32_t error = platform_.GetLastError();
      if (error == kErrorFileNotFound || error == kErrorCantResolveFilename) {
        return PieceChanged(piece);
      }
      return FailOnPiece(RC_FILE_WRITE, FailedStep::kOpen);
    }
    if (!SameFileUnchanged(pieces_[static_cast<std::size_t>(piece)], now)) {
      return PieceChanged(piece);
    }
  }
  return RC_OK;
}

ResultCode SplitRun::Cut() {
  Md5Init(&joined_);
  if (!platform_.SetFilePointer(source_, 0)) {
    return Fail(RC_FILE_READ, FailedStep::kRead, FileRole::kSource, path_);
  }
  piece_number_ = 0;
  ResultCode result = CreatePiece();
  if (result != RC_OK) return result;

  std::uint64_t total = 0;
  std::uint64_t fill = 0;
  for (;;) {
    std::uint32_t got = 0;
    if (!platform_.ReadFile(source_, buffer_.get(), kChunkSize, &got)) {
      return Fail(RC_FILE_READ, FailedStep::kRead, FileRole::kSource, path_);
    }
    if (got == 0) break;
    total += got;
    fill += got;
    // A chunk is never divided: the one that would carry the piece past its
    // limit starts the next piece.
    if (fill > limit_) {
      if ((result = FinishPiece(fill - got)) != RC_OK) return result;
      ++piece_number_;
      if ((result = CreatePiece()) != RC_OK) return result;
      fill = got;
    }
    std::uint32_t written = 0;
    if (!platform_.WriteFile(piece_, buffer_.get(), got, &written)) {
      return FailOnPiece(RC_FILE_WRITE, FailedStep::kWrite);
    }
    // A write that took less than the chunk would lose bytes that the
    // fingerprint of the piece would then vouch for.
    if (written != got) {
      return FailWith(RC_FILE_WRITE, kErrorWriteFault, FailedStep::kWrite, FileRole::kPiece,
                      piece_name_);
    }
    progress_.Advance(got);
    // More bytes than were measured: the measurement failed, and the pieces
    // could not be trusted to hold the whole source.
    if (total > size_) {
      return FailWith(RC_FILE_READ, kErrorReadFault, FailedStep::kMeasure, FileRole::kSource,
                      path_);
    }
  }
  bytes_cut_ = total;
  if ((result = FinishPiece(fill)) != RC_OK) return result;
  // Fewer bytes than measured: the source was cut short meanwhile.
  if (total != size_) {
    return FailWith(RC_FILE_READ, kErrorReadFault, FailedStep::kChanged, FileRole::kSource,
                    path_);
  }
  unsigned char joined[kMd5DigestSize];
  Md5Final(&joined_, joined);
  if (std::memcmp(joined, source_digest_, kMd5DigestSize) != 0) {
    return FailWith(RC_FILE_WRITE, kErrorWriteFault, FailedStep::kMismatch, FileRole::kNone,
                    nullptr);
  }
  return RC_OK;
}

// Reopens a finished piece with the write access that a flush needs, and
// flushes it. Others may read it meanwhile, as they could once it was closed.
ResultCode SplitRun::FlushPiece(std::int32_t piece) {
  const ResultCode opened =
      OpenPiece(piece, kShareRead, Disposition::kOpenExistingNoLink, RC_FILE_WRITE);
  if (opened != RC_OK) return opened;
  // The file at the name must be the piece that was cut, not one put there
  // since by a program that does not go through the platform.
  FileInformation now;
  const FileInformation& cut = pieces_[static_cast<std::size_t>(piece)];
  if (!platform_.GetFileInformationByHandle(piece_, &now)) {
    return FailOnPiece(RC_FILE_WRITE, FailedStep::kFlush);
  }
  if (!SameFileUnchanged(cut, now)) {
    return FailWith(RC_FILE_WRITE, kErrorFileExists, FailedStep::kChanged, FileRole::kPiece,
                    piece_name_);
  }
  if (!platform_.FlushFileBuffers(piece_)) return FailOnPiece(RC_FILE_WRITE, FailedStep::kFlush);
  const bool closed = platform_.CloseHandle(piece_);
  piece_ = nullptr;
  return closed ? RC_OK : FailOnPiece(RC_FILE_WRITE, FailedStep::kClose);
}

// Every piece, then the manifest through its own handle, then the folder,
// for the entries of the pieces and the manifest.
ResultCode SplitRun::MakeDurable() {
  progress_.Enter(Phase::kFlushPieces, -1);
  for (std::int32_t piece = 0; piece <= piece_number_; ++piece) {
    const ResultCode flushed = FlushPiece(piece);
    if (flushed != RC_OK) return flushed;
  }
  if (!platform_.FlushFileBuffers(manifest_)) {
    return Fail(RC_FILE_WRITE, FailedStep::kFlush, FileRole::kManifest, set_.manifest());
  }
  if (!platform_.FlushFolderOf(set_.manifest())) {
    return Fail(RC_FILE_WRITE, FailedStep::kFlushFolder, FileRole::kManifest, set_.manifest());
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
