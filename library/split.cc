// SPDX-License-Identifier: MIT
// The split: source -> pieces + manifest, then the source is deleted.
//
//   1. Hold the source, sharing reading only, and measure it.
//   2. Fingerprint it through that handle.
//   3. Clear what an earlier split of this same source left at the names to
//      create, proved by its bytes (stale_output.h); refuse anything else.
//   4. Create the manifest new, held for writing until the end
//      (split_manifest.h), and record the source in it.
//   5. Cut the source chunk by chunk into pieces (cut_pieces.h); fingerprint
//      each through the handle that wrote it and record it through the
//      manifest's handle.
//   6. Put every piece, the manifest and the folder on stable storage.
//   7. When asked (the default for pieces in a folder of their own), read
//      every piece and the manifest back from the medium, past the system's
//      cache, and prove them: a medium that stores other bytes than it was
//      given, or wraps its writes around, keeps the source.
//   8. Prove the manifest at its name, the source unchanged and every piece
//      as it was cut; then, unless asked to keep it, delete the very file
//      that was cut, only while the pieces and the manifest stand as proved.
//
// Before anything is written, the pieces' file system is asked what it
// holds: on FAT, pieces past 4 GiB - 1 byte or a name it refuses are
// refused up front.
//
// Any failure before the deletion keeps the source and everything written.
// The pieces, read back for their fingerprints, are joined into one more
// digest, which must be the source's: a piece that another program wrote to
// meanwhile keeps the source.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "library/cut_pieces.h"
#include "library/judged_file.h"
#include "library/operation.h"
#include "library/split_manifest.h"
#include "library/stale_output.h"
#include "platform/path_rules.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

// The number of the last piece that a source of `size` bytes gives, reading
// whole chunks until the last.
std::uint64_t HighestPiece(std::uint64_t size, std::uint64_t limit) {
  if (size == 0) return 0;
  const std::uint64_t chunks = (size + kChunkSize - 1) / kChunkSize;
  if (limit == 0) return chunks;  // an empty piece 0, then one chunk per piece
  const std::uint64_t chunks_per_piece = limit < kChunkSize ? 1 : limit / kChunkSize;
  return (chunks - 1) / chunks_per_piece;
}

class SplitRun : public Operation {
 public:
  SplitRun(const OperationOptions& options, std::uint64_t limit)
      : Operation(options), limit_(limit) {
    for (FileHandle* held : {&source_, pieces_.handle(), manifest_.handle()}) Hold(held);
  }
  ~SplitRun() override { CloseHeld(); }
  ResultCode Run(const wchar_t* path);

 private:
  ResultCode OpenSource();
  ResultCode CheckMedium();
  ResultCode CheckSpace();
  ResultCode FingerprintSource();
  ResultCode Cut();
  ResultCode FinishPiece(std::uint64_t bytes);
  ResultCode CheckSourceUnchanged();
  ResultCode DeleteSource();
  ResultCode FailSource(ResultCode code, FailedStep step) {
    return Fail(code, step, FileRole::kSource, set_.path());
  }
  // The source is not what was measured and fingerprinted.
  ResultCode SourceChanged(FailedStep step = FailedStep::kChanged) {
    return FailWith(RC_FILE_READ, kErrorReadFault, step, FileRole::kSource, set_.path());
  }

  const std::uint64_t limit_;
  FileHandle source_ = nullptr;
  FileInformation source_at_start_;
  bool measured_ = false;
  std::int32_t planned_pieces_ = 0;
  unsigned char source_digest_[kMd5DigestSize] = {};
  std::uint64_t bytes_cut_ = 0;
  CutPieces pieces_{*this};
  SplitManifest manifest_{*this};
};

ResultCode SplitRun::Run(const wchar_t* path) {
  ResultCode result = Begin(path, FileRole::kSource);
  if (result != RC_OK) return result;
  if (!platform_.PathFileExists(set_.path())) {
    return FailSource(RC_SOURCE_NOT_FOUND, FailedStep::kNotFound);
  }
  if ((result = OpenSource()) != RC_OK) return result;
  if ((result = CheckMedium()) != RC_OK) return result;
  if ((result = CheckSpace()) != RC_OK) return result;
  progress_.SetTotals((Has(kReadBack) ? 4 : 3) * facts_.bytes, planned_pieces_);
  if ((result = FingerprintSource()) != RC_OK) return result;
  const HeldSource held{source_, source_at_start_, source_digest_};
  result = ClearStaleOutput(platform_, set_, planned_pieces_ - 1, held, buffer_.get(), progress_,
                            options_.failure);
  if (result != RC_OK) return Failed(result);
  // The stale output's comparisons run to their end whatever the host says;
  // a wish to stop that came meanwhile is honoured before anything is created.
  if (Cancelled()) return FailCancelled();
  if ((result = manifest_.Create(source_, source_digest_)) != RC_OK) return result;
  if ((result = Cut()) != RC_OK) return result;
  if ((result = pieces_.MakeDurable()) != RC_OK) return result;
  if ((result = manifest_.MakeDurable()) != RC_OK) return result;
  if (Has(kReadBack)) {
    if ((result = pieces_.ProveOnMedium()) != RC_OK) return result;
    if ((result = manifest_.Prove(FailedStep::kRead, true)) != RC_OK) return result;
    facts_.read_back = true;
  } else if ((result = manifest_.Prove(FailedStep::kRead)) != RC_OK) {
    return result;
  }
  if ((result = CheckSourceUnchanged()) != RC_OK) return result;
  if ((result = pieces_.Confirm()) != RC_OK) return result;
  if (Has(kKeepSource)) return RC_OK;
  return DeleteSource();
}

// Shared for reading only: others may read it, nobody may write or delete
// it through the platform. A link is not followed: the file cut must be the
// file that the name is deleted from. A failed measurement leaves the size
// at 0; the copy then stops at the first chunk beyond it.
ResultCode SplitRun::OpenSource() {
  source_ = platform_.CreateFile(set_.path(), kAccessRead, kShareRead,
                                 Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (source_ == InvalidHandle()) {
    source_ = nullptr;
    return FailSource(RC_FILE_OPEN, FailedStep::kOpen);
  }
  measured_ = platform_.GetFileInformationByHandle(source_, &source_at_start_);
  facts_.bytes = measured_ ? source_at_start_.size : 0;
  // Every name must fit before anything on disk changes.
  const std::uint64_t highest = HighestPiece(facts_.bytes, limit_);
  if (!set_.PieceNamesFit(highest)) {
    return FailWith(RC_INVALID_PATH, kErrorFilenameExcedRange, FailedStep::kNameTooLong,
                    FileRole::kSource, set_.path());
  }
  planned_pieces_ = static_cast<std::int32_t>(highest + 1);
  return RC_OK;
}

// FAT holds no file of 4 GiB or more, and refuses some characters in names:
// such a split is refused before anything is written, rather than failing
// part way. A file system that cannot be asked is taken as it comes.
ResultCode SplitRun::CheckMedium() {
  FileSystemInformation medium;
  if (!platform_.GetVolumeInformation(set_.manifest(), &medium)) return RC_OK;
  const bool fat = medium.family == FileSystemFamily::kFat;
  facts_.file_system = fat ? OperationFacts::FileSystem::kFat : OperationFacts::FileSystem::kOther;
  if (!fat) return RC_OK;
  const std::uint64_t chunks_per_piece = limit_ < kChunkSize ? 1 : limit_ / kChunkSize;
  const std::uint64_t largest_piece = std::min(facts_.bytes, chunks_per_piece * kChunkSize);
  if (largest_piece > kFatLargestFile) {
    return FailWith(RC_INVALID_ARGUMENT, kErrorFileTooLarge, FailedStep::kTooLargeForMedium,
                    FileRole::kPiece, set_.PieceName(0).c_str(), 0);
  }
  for (const wchar_t* c = LastComponent(set_.base()); *c != L'\0'; ++c) {
    if (FatRefuses(*c)) {
      return FailWith(RC_INVALID_PATH, kErrorInvalidName, FailedStep::kNameNotAllowed,
                      FileRole::kPiece, set_.PieceName(0).c_str(), 0);
    }
  }
  return RC_OK;
}

// The pieces are all written before the source goes: a second copy's room,
// on the file system that receives them. What stands at the names to create
// counts as room: an earlier split's output is cleared before anything is
// written, and anything else makes the split refuse anyway.
ResultCode SplitRun::CheckSpace() {
  if ((options_.flags & kCheckSpace) == 0) return RC_OK;
  std::uint64_t earlier = 0;
  FileInformation found;
  if (LookAt(platform_, set_.manifest(), &found)) earlier += found.size;
  for (std::int32_t piece = 0; piece < planned_pieces_; ++piece) {
    if (LookAt(platform_, set_.PieceName(piece).c_str(), &found)) earlier += found.size;
  }
  const std::uint64_t needed = facts_.bytes > earlier ? facts_.bytes - earlier : 0;
  return RefuseWithoutRoom(needed, FileRole::kSource, set_.path(), set_.manifest());
}

// A source that cannot be read whole would be recorded with a text that
// vouches for nothing, and then deleted.
ResultCode SplitRun::FingerprintSource() {
  progress_.Enter(Phase::kFingerprintSource, -1);
  if (Fingerprint(source_, source_digest_)) return RC_OK;
  if (Cancelled()) return FailCancelled();
  if (platform_.GetLastError() == 0) platform_.SetLastError(kErrorReadFault);
  return FailSource(RC_FILE_READ, FailedStep::kRead);
}

ResultCode SplitRun::Cut() {
  if (!platform_.SetFilePointer(source_, 0)) return FailSource(RC_FILE_READ, FailedStep::kRead);
  ResultCode result = pieces_.CreateNext(source_);
  if (result != RC_OK) return result;
  std::uint64_t fill = 0;
  for (;;) {
    if (Cancelled()) return FailCancelled();
    std::uint32_t got = 0;
    if (!platform_.ReadFile(source_, buffer_.get(), kChunkSize, &got)) {
      return FailSource(RC_FILE_READ, FailedStep::kRead);
    }
    if (got == 0) break;
    bytes_cut_ += got;
    // A chunk is never divided: the one that would carry the piece past its
    // limit starts the next piece.
    if ((fill += got) > limit_) {
      if ((result = FinishPiece(fill - got)) != RC_OK) return result;
      if ((result = pieces_.CreateNext(source_)) != RC_OK) return result;
      fill = got;
    }
    if ((result = pieces_.Write(buffer_.get(), got)) != RC_OK) return result;
    progress_.Advance(got);
    // More bytes than measured: the measurement failed, or the source grew.
    if (bytes_cut_ > facts_.bytes) return SourceChanged(FailedStep::kMeasure);
  }
  if ((result = FinishPiece(fill)) != RC_OK) return result;
  // Fewer bytes than measured: the source was cut short meanwhile.
  if (bytes_cut_ != facts_.bytes) return SourceChanged();
  if (!pieces_.JoinedAre(source_digest_)) {
    return FailWith(RC_FILE_WRITE, kErrorWriteFault, FailedStep::kMismatch, FileRole::kNone,
                    nullptr);
  }
  return RC_OK;
}

// The piece, fingerprinted through the handle that wrote it, is recorded
// once it is closed and noted.
ResultCode SplitRun::FinishPiece(std::uint64_t bytes) {
  unsigned char digest[kMd5DigestSize];
  ResultCode result = pieces_.Finish(bytes, digest);
  if (result == RC_OK) result = manifest_.RecordPiece(pieces_.count() - 1, digest);
  if (result == RC_OK) facts_.pieces = pieces_.count();
  return result;
}

// The bytes cut are the size measured, and the held source still shows that
// size and its times, after every flush, right before it is let go.
ResultCode SplitRun::CheckSourceUnchanged() {
  FileInformation now;
  if (!measured_ || bytes_cut_ != facts_.bytes ||
      !platform_.GetFileInformationByHandle(source_, &now) ||
      !SameFileUnchanged(source_at_start_, now)) {
    return SourceChanged();
  }
  return RC_OK;
}

// The source is let go only now, and the file at its name is deleted only
// when it is the file that was cut, unchanged, through a handle that shares
// nothing (a reader that comes between makes the deletion fail, the source
// stays), and only while the manifest and every piece stand as proved,
// compared in the very call that deletes. The manifest is held to the end,
// so that no merge can tidy the set away.
ResultCode SplitRun::DeleteSource() {
  std::vector<KeptFile> kept;
  ResultCode result = manifest_.AddKept(&kept);
  if (result != RC_OK) return result;
  pieces_.AddKept(&kept);
  Close(&source_);
  switch (DeleteIfUnchanged(platform_, set_.path(), source_at_start_, kept)) {
    case Deletion::kDeleted: return RC_OK;
    case Deletion::kGone:
    case Deletion::kChanged:
      // What changed in the instant before: the manifest, a piece, or the
      // source itself.
      if ((result = manifest_.Prove(FailedStep::kChanged)) != RC_OK) return result;
      if ((result = pieces_.Confirm()) != RC_OK) return result;
      return SourceChanged();
    case Deletion::kFailed: break;
  }
  return FailSource(RC_FILE_DELETE, FailedStep::kDelete);
}

}  // namespace

ResultCode Split(const wchar_t* path, std::uint64_t piece_limit, const OperationOptions& options) {
  return RunOperation<SplitRun>(path, options, piece_limit);
}

}  // namespace tarvelin
