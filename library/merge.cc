// SPDX-License-Identifier: MIT
// The merge: pieces + manifest -> the file, under the path that was split.
//
// The manifest is held, against writers, from its reading to its deletion,
// so the record that the whole is proved against is the record deleted. The
// rebuilt file is created new, never over or through what has the name, and
// no more open to others than the manifest from its first byte. Each piece
// is held open (others may read it, nobody may change it) while it is proved
// against its recorded fingerprint and appended through that same handle, so
// no byte is appended that was not proved. The rebuilt file is flushed before
// a piece is deleted and its folder entry before the first deletion, so after
// a power loss the rebuilt file's prefix and the remaining pieces still hold
// every byte. The manifest goes last, only once the whole has been proved,
// so that a failed merge can be looked into and finished by hand. Every
// deletion takes the file that was proved, unchanged, and nothing that has
// taken its name since.
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
// of joined pieces still on disk, each proved by its fingerprint, once the
// file is durable, and goes on joining. It goes on only in a file that may be
// its own: a regular file with one name, owned by the user running it. A file
// that proves whole is a merge interrupted after its last proof (or a split
// stopped before it deleted its source): the pieces whose bytes it holds and
// the manifest left beside it go, as the merge would have deleted them.
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "digest/fingerprint.h"
#include "library/file_helpers.h"
#include "library/joined_pieces.h"
#include "library/judged_file.h"
#include "library/operations.h"
#include "library/progress_reporter.h"
#include "library/split_set.h"
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
  ResultCode Tidy(const JoinedPieces& found);
  ResultCode DeleteTailPieces(std::int32_t first, std::uint64_t place, std::uint64_t whole_size);
  ResultCode Resume(const JoinedPieces& found);
  ResultCode ProveTail(const JoinedPieces& found);
  ResultCode DeleteCopiesOfJoined(std::int32_t joined);
  ResultCode DeleteCopyOfJoined(std::int32_t piece);
  ResultCode JoinAll(std::int32_t first);
  ResultCode ProveWhole(std::int32_t missing_piece);
  void MeasurePiecesForProgress(std::int32_t first, std::uint64_t other_work);
  ResultCode ProvePiece(std::int32_t piece, const wchar_t* piece_name);
  ResultCode JoinPiece(std::int32_t piece, const wchar_t* piece_name);
  ResultCode FlushAndDeleteJoined();
  ResultCode DeleteJudged(const wchar_t* name, FileRole role, std::int32_t piece,
                          const FileInformation& judged);
  ResultCode NoteRebuilt(std::uint64_t expected_size);
  ResultCode ReadBackJoined(std::int32_t piece, std::uint64_t from);
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
  FileHandle manifest_ = nullptr;
  FileInformation manifest_judged_;
  FileHandle rebuilt_ = nullptr;
  // The rebuilt file as this merge last left it: nobody else may have
  // written to it when a piece whose bytes it holds is deleted.
  FileInformation rebuilt_noted_;
  // The bytes of the rebuilt file so far, as read back after each append:
  // once the last piece is joined, the proof of the whole.
  Md5Context whole_;
  FileHandle piece_ = nullptr;
  FileInformation piece_judged_;
  // The piece whose bytes were appended last and that is still on disk, or
  // -1, and the file that was proved under its name.
  std::int32_t joined_ = -1;
  FileInformation joined_judged_;
  // Where the last piece that the rebuilt file holds whole ends, and whether
  // bytes of the next one may have been written after it.
  std::uint64_t joined_end_ = 0;
  bool partial_ = false;
  std::unique_ptr<unsigned char[]> buffer_;
};

void MergeRun::CloseAll() {
  for (FileHandle* handle : {&piece_, &rebuilt_, &manifest_}) {
    if (*handle != nullptr) platform_.CloseHandle(*handle);
    *handle = nullptr;
  }
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
  if (set_.NamesADevice()) {
    platform_.SetLastError(kErrorSuccess);
    return Report(RC_INVALID_PATH, FailedStep::kDeviceName, FileRole::kRebuilt, path_);
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

// The record, read through a handle held against writers until the manifest
// is deleted (a running split holds it for writing and so refuses this one),
// the names it asks for and the copy buffer. Nothing is created before it.
ResultCode MergeRun::ReadRecord() {
  manifest_ = platform_.CreateFile(set_.manifest(), kAccessRead, kShareRead,
                                   Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (manifest_ == InvalidHandle()) {
    manifest_ = nullptr;
    return Report(RC_FILE_OPEN, FailedStep::kOpen, FileRole::kManifest, set_.manifest());
  }
  if (!platform_.GetFileInformationByHandle(manifest_, &manifest_judged_) ||
      !set_.ReadRecord(platform_, manifest_)) {
    if (platform_.GetLastError() == kErrorNotEnoughMemory) return OutOfMemory();
    return Report(RC_FILE_READ, FailedStep::kRead, FileRole::kManifest, set_.manifest());
  }
  try {
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
  if (ready != RC_OK) return Fail(ready);
  try {
    MeasurePiecesForProgress(0, 0);
  } catch (const std::bad_alloc&) {
    return Fail(OutOfMemory());
  }
  // Created new: a file that appeared since the look (or that the look
  // missed) may be the only copy of someone's bytes, and a link there leads
  // to a file that is not ours; either is left alone.
  rebuilt_ = platform_.CreateFile(set_.rebuilt(), kAccessRead | kAccessWrite | kAccessAppend,
                                  kShareNone, Disposition::kCreateNew, Attribute::kNormal,
                                  manifest_);
  if (rebuilt_ == InvalidHandle()) {
    rebuilt_ = nullptr;
    const bool taken = platform_.GetLastError() == kErrorFileExists;
    return Fail(ReportRebuilt(RC_FILE_OPEN, taken ? FailedStep::kAppeared : FailedStep::kCreate));
  }
  // The new file's folder entry must be durable before any piece goes.
  if (!platform_.FlushFolderOf(set_.rebuilt())) {
    return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlushFolder));
  }
  const ResultCode noted = NoteRebuilt(0);
  if (noted != RC_OK) return Fail(noted);
  Md5Init(&whole_);
  return JoinAll(0);
}

// A file at the path beside a manifest is taken as the work of an earlier
// merge, and held from before it is read until the merge ends: with write
// access, which a flush, a cut and the appends need, and read sharing only.
// A split holds its manifest for writing until it returns, so the record
// cannot be read while a split runs, and no merge can take a split's source,
// still whole beside the manifest being written, for a finished merge.
ResultCode MergeRun::TakeExistingFile() {
  const ResultCode ready = ReadRecord();
  if (ready != RC_OK) return Fail(ready);
  rebuilt_ = platform_.CreateFile(set_.rebuilt(), kAccessRead | kAccessWrite | kAccessAppend,
                                  kShareRead, Disposition::kOpenExistingNoLink,
                                  Attribute::kNormal);
  if (rebuilt_ == InvalidHandle()) {
    rebuilt_ = nullptr;
    if (platform_.GetLastError() == kErrorCantResolveFilename) {
      return Fail(ReportRebuilt(RC_FILE_OPEN, FailedStep::kNotOurs));
    }
    return Fail(ReportRebuilt(RC_FILE_READ, FailedStep::kOpen));
  }
  // Written into only when it may be ours: a file with a second name, or one
  // that another user put there, would share the rebuilt bytes with others.
  FileInformation file;
  if (!platform_.GetFileInformationByHandle(rebuilt_, &file)) {
    return Fail(ReportRebuilt(RC_FILE_READ, FailedStep::kOpen));
  }
  if (!MayBeOurs(file)) {
    platform_.SetLastError(kErrorFileExists);
    return Fail(ReportRebuilt(RC_FILE_OPEN, FailedStep::kNotOurs));
  }
  if (progress_.active()) progress_.SetTotals(file.size, set_.recorded_count());
  progress_.Enter(Phase::kFindJoined, -1);
  JoinedPieces found;
  if (!FindJoinedPieces(platform_, rebuilt_, set_, buffer_.get(), progress_.byte_sink(),
                        &found)) {
    return Fail(ReportRebuilt(RC_FILE_READ, FailedStep::kRead));
  }
  // A whole file whose record does not lead to it piece by piece is no
  // merge's work: the record vouches for pieces that it does not hold.
  if (found.whole_matches && found.count == set_.recorded_count()) return Tidy(found);
  if (found.whole_matches) return Fail(ReportMismatch(-1, true));
  return Resume(found);
}

// The file is the whole: a merge stopped after its last proof, or before it
// deleted what it had joined, or a split stopped before it deleted its
// source. The file goes to stable storage (its last piece may still be only
// in the cache), then every recorded piece left that proves to be the one
// the file holds, then any pieces after them whose bytes the file holds at
// their places (one that a split was cutting when it stopped), and, last,
// the manifest, whose every record the file holds.
ResultCode MergeRun::Tidy(const JoinedPieces& found) {
  if (!platform_.FlushFileBuffers(rebuilt_)) {
    return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlush));
  }
  if (!platform_.FlushFolderOf(set_.rebuilt())) {
    return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlushFolder));
  }
  ResultCode result = NoteRebuilt(found.size);
  if (result != RC_OK) return Fail(result);
  result = DeleteCopiesOfJoined(found.count);
  if (result != RC_OK) return Fail(result);
  result = DeleteTailPieces(found.count, found.end, found.size);
  if (result != RC_OK) return Fail(result);
  result = DeleteManifest();
  CloseAll();
  return result;
}

// Deletes piece files from `first` on while each holds nothing but the
// whole file's bytes at its place, which starts at `place` and moves on by
// each one's size; the first that does not ends them, untouched.
ResultCode MergeRun::DeleteTailPieces(std::int32_t first, std::uint64_t place,
                                      std::uint64_t whole_size) {
  for (std::int32_t piece = first; piece < INT32_MAX; ++piece) {
    wchar_t name[kNameCapacity] = {};
    if (!set_.PieceName(piece, name)) return RC_OK;
    const FileHandle file = platform_.CreateFile(name, kAccessRead, kShareRead,
                                                 Disposition::kOpenExistingNoLink,
                                                 Attribute::kReadOnly);
    if (file == InvalidHandle()) return RC_OK;
    FileInformation judged;
    const bool held = platform_.GetFileInformationByHandle(file, &judged) && MayBeOurs(judged) &&
                      HoldsBytesOf(platform_, file, judged.size, rebuilt_, whole_size, place,
                                   buffer_.get(), kChunkSize);
    platform_.CloseHandle(file);
    if (!held) return RC_OK;
    const ResultCode deleted = DeleteJudged(name, FileRole::kPiece, piece, judged);
    if (deleted != RC_OK) return deleted;
    place += judged.size;
  }
  return RC_OK;
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
  if (found.count > 0 && !platform_.FlushFileBuffers(rebuilt_)) {
    return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlush));
  }
  const ResultCode noted = NoteRebuilt(found.end);
  if (noted != RC_OK) return Fail(noted);
  whole_ = found.whole_at_end;
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
  piece_ = platform_.CreateFile(piece_name, kAccessRead, kShareRead,
                                Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
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
// both in the file and on disk. Once the file is durable, the copies go: each
// only when its fingerprint is the recorded one, which the search proved to
// be that of the bytes the file holds at its place.
ResultCode MergeRun::DeleteCopiesOfJoined(std::int32_t joined) {
  for (std::int32_t piece = 0; piece < joined; ++piece) {
    const ResultCode deleted = DeleteCopyOfJoined(piece);
    if (deleted != RC_OK) return deleted;
  }
  return RC_OK;
}

ResultCode MergeRun::DeleteCopyOfJoined(std::int32_t piece) {
  wchar_t name[kNameCapacity] = {};
  set_.PieceName(piece, name);
  const FileHandle file = platform_.CreateFile(name, kAccessRead, kShareRead,
                                               Disposition::kOpenExistingNoLink,
                                               Attribute::kReadOnly);
  if (file == InvalidHandle()) return RC_OK;  // gone, or nothing we would take
  FileInformation judged;
  unsigned char digest[kMd5DigestSize];
  const bool copy = platform_.GetFileInformationByHandle(file, &judged) &&
                    DigestOpenFile(platform_, file, digest, nullptr, &hashing_) ==
                        kDigestFileComplete &&
                    set_.recorded(piece).Matches(digest);
  platform_.CloseHandle(file);
  if (!copy) return RC_OK;
  return DeleteJudged(name, FileRole::kPiece, piece, judged);
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
  const ResultCode result = ProveWhole(piece < set_.recorded_count() ? piece : -1);
  CloseAll();
  return result;
}

// The whole is proved by the bytes read back as each piece was appended
// (and, after an interruption, those found already joined), while the file
// stands as this merge last left it.
ResultCode MergeRun::ProveWhole(std::int32_t missing_piece) {
  progress_.Enter(Phase::kVerifyWhole, -1);
  FileInformation now;
  if (!platform_.GetFileInformationByHandle(rebuilt_, &now)) {
    return ReportRebuilt(RC_FILE_READ, FailedStep::kRead);
  }
  if (!SameFileUnchanged(rebuilt_noted_, now)) {
    platform_.SetLastError(kErrorFileExists);
    return ReportRebuilt(RC_FILE_WRITE, FailedStep::kChanged);
  }
  unsigned char digest[kMd5DigestSize] = {};
  Md5Context whole = whole_;
  Md5Final(&whole, digest);
  if (!set_.source().Matches(digest)) return ReportMismatch(missing_piece, false);
  return DeleteManifest();
}

// Opens the piece and proves it, through that handle, against its recorded
// fingerprint. The piece stays held (others may read it, nobody may change
// it) until it is joined, so the bytes appended are the bytes proved. Leaves
// the handle open on failure too; the caller closes everything.
ResultCode MergeRun::ProvePiece(std::int32_t piece, const wchar_t* piece_name) {
  piece_ = platform_.CreateFile(piece_name, kAccessRead, kShareRead,
                                Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (piece_ == InvalidHandle()) {
    piece_ = nullptr;
    return ReportPiece(RC_FILE_OPEN, FailedStep::kOpen, piece, piece_name);
  }
  progress_.Enter(Phase::kVerifyPiece, piece);
  unsigned char digest[kMd5DigestSize] = {};
  // A piece that cannot be read whole is not proved, whatever was recorded.
  if (!platform_.GetFileInformationByHandle(piece_, &piece_judged_) ||
      DigestOpenFile(platform_, piece_, digest, progress_.byte_sink(), &hashing_) !=
          kDigestFileComplete) {
    return ReportPiece(RC_FILE_READ, FailedStep::kRead, piece, piece_name);
  }
  if (!set_.recorded(piece).Matches(digest)) {
    ReportPiece(RC_DIGEST_MISMATCH, FailedStep::kMismatch, piece, piece_name);
    if (report_ != nullptr) report_->recorded_zero = set_.recorded(piece).IsZero();
    return RC_DIGEST_MISMATCH;
  }
  return RC_OK;
}

// Appends the proved, held piece and lets it go; it is deleted after the
// next piece has been proved.
ResultCode MergeRun::JoinPiece(std::int32_t piece, const wchar_t* piece_name) {
  progress_.Enter(Phase::kJoinPiece, piece);
  if (!platform_.SetFilePointer(piece_, 0)) {
    return ReportPiece(RC_FILE_READ, FailedStep::kRead, piece, piece_name);
  }
  // Nobody else may have written to the file since this merge last did:
  // what it holds of the pieces already gone is all there is of them.
  FileInformation now;
  if (!platform_.GetFileInformationByHandle(rebuilt_, &now)) {
    return ReportRebuilt(RC_FILE_WRITE, FailedStep::kWrite);
  }
  if (!SameFileUnchanged(rebuilt_noted_, now)) {
    platform_.SetLastError(kErrorFileExists);
    return ReportRebuilt(RC_FILE_WRITE, FailedStep::kChanged);
  }
  const std::uint64_t from = joined_end_;
  const ResultCode copied = CopyPiece(piece, piece_name);
  if (copied != RC_OK) return copied;
  const ResultCode read_back = ReadBackJoined(piece, from);
  if (read_back != RC_OK) return read_back;
  const ResultCode noted = NoteRebuilt(joined_end_);
  if (noted != RC_OK) return noted;
  platform_.CloseHandle(piece_);
  piece_ = nullptr;
  joined_ = piece;
  joined_judged_ = piece_judged_;
  return RC_OK;
}

// Reads back what was just appended, from `from` to the end of the file:
// it must be the piece as it was proved, or another program wrote into the
// rebuilt file meanwhile (or a write stored less than it said), and the
// piece must not go. The same bytes feed the digest of the whole, which so
// proves the whole without another pass.
ResultCode MergeRun::ReadBackJoined(std::int32_t piece, std::uint64_t from) {
  // Until it is proved, the piece is not held whole: a failure cuts it off.
  const std::uint64_t appended_end = joined_end_;
  joined_end_ = from;
  partial_ = true;
  Md5Context own;
  Md5Init(&own);
  std::uint64_t read = 0;
  if (!platform_.SetFilePointer(rebuilt_, from) ||
      !ReadAndHash(
          platform_, rebuilt_,
          [this, &own](const unsigned char* bytes, std::uint32_t size) {
            Md5UpdateBoth(&own, &whole_, bytes, static_cast<std::int32_t>(size));
          },
          [this, &read](std::uint32_t size) {
            read += size;
            progress_.Advance(size);
          },
          &hashing_)) {
    return Fail(ReportRebuilt(RC_FILE_READ, FailedStep::kRead));
  }
  unsigned char digest[kMd5DigestSize];
  Md5Final(&own, digest);
  if (read != appended_end - from || !set_.recorded(piece).Matches(digest)) {
    platform_.SetLastError(kErrorWriteFault);
    return Fail(ReportRebuilt(RC_FILE_WRITE, FailedStep::kChanged));
  }
  joined_end_ = appended_end;
  partial_ = false;
  return RC_OK;
}

// Makes every byte appended so far durable, then deletes the piece joined
// last, if one waits.
ResultCode MergeRun::FlushAndDeleteJoined() {
  if (!platform_.FlushFileBuffers(rebuilt_)) return ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlush);
  if (joined_ < 0) return RC_OK;
  const std::int32_t piece = joined_;
  joined_ = -1;
  wchar_t piece_name[kNameCapacity] = {};
  set_.PieceName(piece, piece_name);
  return DeleteJudged(piece_name, FileRole::kPiece, piece, joined_judged_);
}

// Deletes the file at `name` when it is still the one judged, unchanged, and
// only while the rebuilt file that holds its bytes is at its name: one that
// another program renamed over it, or a link put in its place, would leave
// them in a file that nobody can find once the merge lets it go. A file that
// is gone already needs no deletion.
ResultCode MergeRun::DeleteJudged(const wchar_t* name, FileRole role, std::int32_t piece,
                                  const FileInformation& judged) {
  FileInformation now;
  if (!platform_.GetFileInformationByHandle(rebuilt_, &now)) {
    return ReportRebuilt(RC_FILE_WRITE, FailedStep::kFlush);
  }
  if (!SameFileUnchanged(rebuilt_noted_, now)) {
    platform_.SetLastError(kErrorFileExists);
    return ReportRebuilt(RC_FILE_WRITE, FailedStep::kChanged);
  }
  switch (DeleteIfUnchanged(platform_, name, judged, {{set_.rebuilt(), rebuilt_noted_, rebuilt_}})) {
    case Deletion::kDeleted:
    case Deletion::kGone:
      return RC_OK;
    case Deletion::kChanged:
      if (CheckName(platform_, set_.rebuilt(), rebuilt_) == NameCheck::kOther) {
        return ReportRebuilt(RC_FILE_WRITE, FailedStep::kChanged);
      }
      return Report(RC_FILE_DELETE, FailedStep::kChanged, role, name, piece);
    case Deletion::kFailed:
      break;
  }
  return Report(RC_FILE_DELETE, FailedStep::kDelete, role, name, piece);
}

// Notes the rebuilt file as this merge leaves it, which must hold exactly
// the bytes it has written: a write that reported more than it stored
// would otherwise let the pieces go.
ResultCode MergeRun::NoteRebuilt(std::uint64_t expected_size) {
  if (!platform_.GetFileInformationByHandle(rebuilt_, &rebuilt_noted_)) {
    return ReportRebuilt(RC_FILE_WRITE, FailedStep::kWrite);
  }
  if (rebuilt_noted_.size != expected_size) {
    platform_.SetLastError(kErrorWriteFault);
    return ReportRebuilt(RC_FILE_WRITE, FailedStep::kWrite);
  }
  return RC_OK;
}

// The manifest held since its reading is let go only now, and deleted only
// if it is still the record that was read.
ResultCode MergeRun::DeleteManifest() {
  platform_.CloseHandle(manifest_);
  manifest_ = nullptr;
  return DeleteJudged(set_.manifest(), FileRole::kManifest, -1, manifest_judged_);
}

ResultCode MergeRun::CopyPiece(std::int32_t piece, const wchar_t* piece_name) {
  // The piece is held with read sharing only, so its size cannot change
  // through the platform; more bytes than it had stop the copy.
  const std::uint64_t size = piece_judged_.size;
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
