// SPDX-License-Identifier: MIT
// The stream: pieces + manifest -> the original's bytes, handed to the host
// as they are read, with no file in between. It deletes nothing.
//
//   1. Read the record through the manifest, held against writers (a
//      running split holds it for writing, and so refuses this).
//   2. Look for every recorded piece before a byte goes out: a missing one
//      stops the stream with nothing written.
//   3. For each piece: hold it, read it chunk by chunk, fingerprint each
//      chunk and hand it out; at its end the piece's fingerprint must be
//      the recorded one, or the stream stops there.
//   4. The fingerprint of everything handed out must be the source's.
//
// A piece is proved only once it has gone out (it may be larger than any
// memory), so a host that keeps the bytes must look at the code returned.
#include <cstdint>
#include <string>

#include "library/operation.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

class StreamRun : public Operation {
 public:
  StreamRun(const OperationOptions& options, OutputCallback output, void* context)
      : Operation(options), output_(output), context_(context) {
    for (FileHandle* held : {&manifest_, &piece_}) Hold(held);
  }
  ~StreamRun() override { CloseHeld(); }
  ResultCode Run(const wchar_t* path);

 private:
  ResultCode FindEveryPiece();
  ResultCode StreamPiece(std::int32_t piece);
  ResultCode ProveWhole();

  OutputCallback output_;
  void* context_;
  FileHandle manifest_ = nullptr;
  FileHandle piece_ = nullptr;
  Md5Context whole_;
};

ResultCode StreamRun::Run(const wchar_t* path) {
  ResultCode result = Begin(path, FileRole::kRebuilt);
  if (result != RC_OK) return result;
  facts_.manifest_found = platform_.PathFileExists(set_.manifest());
  if ((result = RefusePartOfASplit(facts_.manifest_found)) != RC_OK) return result;
  if (!facts_.manifest_found) return FailManifest(RC_MANIFEST_NOT_FOUND, FailedStep::kNotFound);
  if ((result = HoldManifestAndReadRecord(&manifest_)) != RC_OK) return result;
  if ((result = RefuseSetFileAtThePath()) != RC_OK) return result;
  if ((result = FindEveryPiece()) != RC_OK) return result;
  Md5Init(&whole_);
  for (std::int32_t piece = 0; piece < set_.recorded_count(); ++piece) {
    if ((result = StreamPiece(piece)) != RC_OK) return result;
  }
  return ProveWhole();
}

ResultCode StreamRun::FindEveryPiece() {
  std::uint64_t total = 0;
  for (std::int32_t piece = 0; piece < set_.recorded_count(); ++piece) {
    if (!platform_.PathFileExists(set_.PieceName(piece).c_str())) {
      ProofDetails details;
      details.missing_piece = piece;
      return FailWith(RC_FILE_OPEN, kErrorFileNotFound, FailedStep::kNotFound, FileRole::kPiece,
                      set_.PieceName(piece).c_str(), piece, details);
    }
  }
  if (progress_.active()) {
    for (std::uint64_t size : set_.PieceSizes(platform_)) total += size;
    progress_.SetTotals(total, set_.recorded_count());
  }
  return RC_OK;
}

// Read and handed out through the one handle that is proved: the bytes
// proved are the bytes that went out.
ResultCode StreamRun::StreamPiece(std::int32_t piece) {
  piece_ = platform_.CreateFile(set_.PieceName(piece).c_str(), kAccessRead, kShareRead,
                                Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (piece_ == InvalidHandle()) {
    piece_ = nullptr;
    return FailPiece(RC_FILE_OPEN, FailedStep::kOpen, piece);
  }
  progress_.Enter(Phase::kStreamPiece, piece);
  Md5Context own;
  Md5Init(&own);
  for (;;) {
    if (Cancelled()) return FailCancelled();
    std::uint32_t got = 0;
    if (!platform_.ReadFile(piece_, buffer_.get(), kChunkSize, &got)) {
      return FailPiece(RC_FILE_READ, FailedStep::kRead, piece);
    }
    if (got == 0) break;
    Md5UpdateBoth(&own, &whole_, buffer_.get(), static_cast<std::int32_t>(got));
    const std::uint32_t refused = output_(buffer_.get(), got, context_);
    if (refused != 0) {
      return FailWith(RC_FILE_WRITE, refused, FailedStep::kWrite, FileRole::kOutput, nullptr);
    }
    facts_.bytes += got;
    progress_.Advance(got);
  }
  Close(&piece_);
  unsigned char digest[kMd5DigestSize];
  Md5Final(&own, digest);
  const RecordedFingerprint& recorded = set_.recorded(piece);
  if (!recorded.Matches(digest)) {
    ProofDetails details;
    details.recorded_zero = recorded.IsZero();
    details.record_malformed = !recorded.well_formed;
    return FailWith(RC_DIGEST_MISMATCH, kErrorSuccess, FailedStep::kMismatch, FileRole::kPiece,
                    set_.PieceName(piece).c_str(), piece, details);
  }
  ++facts_.pieces;
  return RC_OK;
}

ResultCode StreamRun::ProveWhole() {
  unsigned char digest[kMd5DigestSize];
  Md5Final(&whole_, digest);
  if (set_.source().Matches(digest)) return RC_OK;
  ProofDetails details;
  details.source_unrecorded = !set_.source_recorded();
  return FailWith(RC_DIGEST_MISMATCH, kErrorSuccess, FailedStep::kMismatch, FileRole::kRebuilt,
                  set_.rebuilt(), -1, details);
}

}  // namespace

ResultCode Stream(const wchar_t* path, OutputCallback output, void* output_context,
                  const OperationOptions& options) {
  return RunOperation<StreamRun>(path, options, output, output_context);
}

}  // namespace tarvelin
