// SPDX-License-Identifier: MIT
// The shell that every operation runs in: the platform it was given, its
// names, progress and cancellation, the hashing thread, the transfer buffer,
// the handles it holds, and one way to fail. A failure is told once, with
// the pending last-error value, and then every handle still held is closed
// with that value kept, so that the last error that a host reads names the
// call that failed, not a clean-up after it.
//
// The parts that an operation is built of (cut_pieces.h, rebuilt_file.h, ...)
// reach the shell through its public members and fail through it, so that
// every failure takes the one path.
#ifndef TARVELIN_LIBRARY_OPERATION_H_
#define TARVELIN_LIBRARY_OPERATION_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "digest/hashing_reader.h"
#include "digest/md5.h"
#include "library/failure.h"
#include "library/failure_report.h"
#include "library/operations.h"
#include "library/progress_reporter.h"
#include "library/result_codes.h"
#include "library/split_set.h"
#include "platform/aligned_bytes.h"
#include "platform/platform.h"
#include "platform/platform_errors.h"

namespace tarvelin {

class Operation {
 public:
  explicit Operation(const OperationOptions& options);
  virtual ~Operation() { CloseAll(); }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  Platform& platform() { return platform_; }
  const SplitSet& set() const { return set_; }
  const OperationFacts& facts() const { return facts_; }
  ProgressReporter& progress() { return progress_; }
  // kChunkSize bytes, aligned for reads past the cache, taken by Begin.
  unsigned char* buffer() { return buffer_.get(); }

  // Registers a handle that the operation holds: closed when it fails or
  // ends, unless Close let it go before. Handles are closed in the order
  // they were registered.
  void Hold(FileHandle* handle) { held_.push_back(handle); }
  // Closes one held handle now; a failed close is not reported.
  void Close(FileHandle* handle);

  // Tells the report what stopped the operation, with the pending last-error
  // value and `details`, closes everything held, keeping that value, and
  // returns `code`. Only the first failure is told: a failure while failing
  // changes nothing.
  ResultCode Fail(ResultCode code, FailedStep step, FileRole role, const wchar_t* file,
                  std::int32_t piece = -1, const ProofDetails& details = ProofDetails());
  // The same as Fail with `error` as the last-error value.
  ResultCode FailWith(ResultCode code, std::uint32_t error, FailedStep step, FileRole role,
                      const wchar_t* file, std::int32_t piece = -1,
                      const ProofDetails& details = ProofDetails());
  ResultCode FailWith(const Failure& failure) {
    return FailWith(failure.code, failure.error, failure.step, failure.role,
                    failure.file.c_str(), failure.piece, failure.details);
  }
  // For a failure that a helper has told already: closes as Fail does.
  ResultCode Failed(ResultCode code);
  ResultCode FailPiece(ResultCode code, FailedStep step, std::int32_t piece,
                       const ProofDetails& details = ProofDetails()) {
    return Fail(code, step, FileRole::kPiece, set_.PieceName(piece).c_str(), piece, details);
  }
  ResultCode FailManifest(ResultCode code, FailedStep step) {
    return Fail(code, step, FileRole::kManifest, set_.manifest());
  }
  ResultCode FailRebuilt(ResultCode code, FailedStep step) {
    return Fail(code, step, FileRole::kRebuilt, set_.rebuilt());
  }
  ResultCode FailOutOfMemory() {
    return FailWith(RC_FILE_READ, kErrorNotEnoughMemory, FailedStep::kNoMemory, FileRole::kNone,
                    nullptr);
  }
  // Tells the host of one piece, when it asked to hear of each.
  void TellPiece(const PieceCheck& check) const {
    if (options_.on_piece != nullptr) options_.on_piece(check, options_.piece_context);
  }

  // Whether the host asked for `flag` (kKeepSource, kKeepPieces, kReadBack).
  bool Has(std::uint32_t flag) const { return (options_.flags & flag) != 0; }

  // Whether the host asked the operation to stop; checked at every chunk.
  bool Cancelled() const { return progress_.cancelled(); }
  // Stops because the host asked to: RC_CANCELLED, with what a failure at
  // this point leaves.
  ResultCode FailCancelled() { return FailWith(Cancellation()); }
  static Failure Cancellation() {
    return Failure{RC_CANCELLED, kErrorCancelled, FailedStep::kCancelled};
  }
  // Whether a failure has been told already.
  bool failed() const { return failed_; }

  // Reads the held `file` from its position to its end on the operation's
  // hashing thread, giving every byte to `hash` in order; progress hears of
  // every read. False when a read fails (its last-error value stands), or
  // at the first read after the host asked to stop (kErrorCancelled).
  bool ReadAndHash(FileHandle file, const HashBytes& hash);
  // The MD5 of the held `file` from its position to its end, read as
  // ReadAndHash reads, into `digest`; with `tell_progress` the bytes are
  // told in the steps that DigestOpenFile tells them, else not at all. The
  // host's wish to stop is asked at every read either way. False as for
  // ReadAndHash; `digest` then holds the MD5 of the bytes before the stop.
  bool Fingerprint(FileHandle file, unsigned char digest[kMd5DigestSize],
                   bool tell_progress = true);

 protected:
  // Derives the names from `path` (RC_INVALID_PATH when one does not fit or
  // names a device) and takes the transfer buffer.
  ResultCode Begin(const wchar_t* path, FileRole role);

  // With kRefusePartOfASplit: a path that names the manifest or a piece of
  // a split where the file to rebuild is meant is refused
  // (RC_INVALID_ARGUMENT, told with the manifest's name and the piece's
  // number, -1 for the manifest itself). Checked before anything is opened.
  ResultCode RefusePartOfASplit(bool manifest_found);

  // With kRefusePartOfASplit and a pieces' folder, once the record is read:
  // the file at the path, however the path spells it, must be none of the
  // set's own files (its manifest, a recorded piece), or a merge would write
  // into the set itself. Refused as RefusePartOfASplit refuses.
  ResultCode RefuseSetFileAtThePath();

  // RC_NOT_ENOUGH_SPACE (told of `file` in `role`) when the file system that
  // holds the folder of `where` has less than `needed` bytes free; a file
  // system that cannot tell its room lets the operation go on. Notes both
  // figures.
  ResultCode RefuseWithoutRoom(std::uint64_t needed, FileRole role, const wchar_t* file,
                               const wchar_t* where);

  // Opens the manifest into *manifest, held against writers (a running
  // split holds it for writing, and so refuses this), fills *judged through
  // it when asked, and reads the record; then checks that every recorded
  // piece's name fits.
  ResultCode HoldManifestAndReadRecord(FileHandle* manifest, FileInformation* judged = nullptr);

  // RC_INVALID_PATH when the name of a recorded piece would not fit.
  ResultCode CheckRecordedNamesFit();

  // Runs before the held handles are closed on a failure.
  virtual void BeforeClosing() {}
  // Closes every handle still held, keeping the last-error value, and
  // forgets them: for the destructor of an operation whose members hold
  // them, which runs before those members go.
  void CloseHeld() {
    CloseAll();
    held_.clear();
  }

  Platform& platform_;
  const OperationOptions& options_;
  ProgressReporter progress_;
  // One hashing thread for every file the operation fingerprints.
  HashingThread hashing_{platform_};
  SplitSet set_;
  AlignedBytes buffer_;
  OperationFacts facts_;

 private:
  void CloseAll();

  std::vector<FileHandle*> held_;
  bool failed_ = false;
};

// Runs an operation of type `Run`, made from `options` and `more`, on
// `path`, and fills options.facts with what it did, whatever it returns.
// Only an allocation can throw in an operation, and nothing was deleted
// because of it: that gives RC_FILE_READ.
template <typename Run, typename... More>
ResultCode RunOperation(const wchar_t* path, const OperationOptions& options, More... more) {
  try {
    Run run(options, more...);
    const ResultCode result = run.Run(path);
    run.progress().Finish();
    if (options.facts != nullptr) *options.facts = run.facts();
    return result;
  } catch (...) {
    return RC_FILE_READ;
  }
}

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_OPERATION_H_
