// SPDX-License-Identifier: MIT
#include "library/cut_pieces.h"

#include <cstring>

#include "library/judged_file.h"
#include "platform/platform_errors.h"

namespace tarvelin {

// Nothing at its name is ever written over or followed.
ResultCode CutPieces::CreateNext(FileHandle source) {
  Platform& platform = run_.platform();
  const std::int32_t piece = count();
  const std::wstring name = run_.set().PieceName(piece);
  piece_ = platform.CreateFile(name.c_str(), kAccessRead | kAccessWrite, kShareNone,
                               Disposition::kCreateNew, Attribute::kNormal, source);
  if (piece_ == InvalidHandle()) {
    piece_ = nullptr;
    // A name that was free when the split looked, taken since.
    const bool taken = platform.GetLastError() == kErrorFileExists;
    return run_.FailPiece(RC_FILE_OPEN, taken ? FailedStep::kAppeared : FailedStep::kCreate,
                          piece);
  }
  FileInformation identity;
  if (!platform.GetFileInformationByHandle(piece_, &identity)) {
    return run_.FailPiece(RC_FILE_OPEN, FailedStep::kCreate, piece);
  }
  pieces_.push_back(identity);
  run_.progress().Enter(Phase::kCutPiece, piece);
  return RC_OK;
}

ResultCode CutPieces::Write(const unsigned char* bytes, std::uint32_t size) {
  std::uint32_t written = 0;
  if (!run_.platform().WriteFile(piece_, bytes, size, &written)) {
    return run_.FailPiece(RC_FILE_WRITE, FailedStep::kWrite, count() - 1);
  }
  if (written != size) {
    run_.platform().SetLastError(kErrorWriteFault);
    return run_.FailPiece(RC_FILE_WRITE, FailedStep::kWrite, count() - 1);
  }
  return RC_OK;
}

ResultCode CutPieces::Finish(std::uint64_t size, unsigned char digest[kMd5DigestSize]) {
  Platform& platform = run_.platform();
  const std::int32_t piece = count() - 1;
  run_.progress().Enter(Phase::kFingerprintPiece, piece);
  Md5Context own;
  Md5Init(&own);
  if (!platform.SetFilePointer(piece_, 0) ||
      !run_.ReadAndHash(piece_, [this, &own](const unsigned char* bytes, std::uint32_t got) {
        Md5UpdateBoth(&own, &joined_, bytes, static_cast<std::int32_t>(got));
      })) {
    if (run_.Cancelled()) return run_.FailCancelled();
    if (platform.GetLastError() == 0) platform.SetLastError(kErrorReadFault);
    return run_.FailPiece(RC_FILE_READ, FailedStep::kRead, piece);
  }
  Md5Final(&own, digest);
  digests_.emplace_back();
  std::memcpy(digests_.back().data(), digest, kMd5DigestSize);
  const bool closed = platform.CloseHandle(piece_);
  piece_ = nullptr;
  if (!closed) return run_.FailPiece(RC_FILE_WRITE, FailedStep::kClose, piece);
  FileInformation& noted = pieces_.back();
  FileInformation now;
  if (!LookAt(platform, run_.set().PieceName(piece).c_str(), &now)) {
    return run_.FailPiece(RC_FILE_WRITE, FailedStep::kOpen, piece);
  }
  // A write that reported more than it stored would leave the record
  // vouching for bytes that are not there.
  if (!SameFile(noted, now) || now.size != size) return Changed(piece);
  noted = now;
  return RC_OK;
}

bool CutPieces::JoinedAre(const unsigned char digest[kMd5DigestSize]) {
  unsigned char joined[kMd5DigestSize];
  Md5Final(&joined_, joined);
  return std::memcmp(joined, digest, kMd5DigestSize) == 0;
}

// Flushing at the end rather than piece by piece lets the disk write piece n
// back while piece n + 1 is cut, and lets a journalling file system commit
// once for many small pieces.
ResultCode CutPieces::MakeDurable() {
  Platform& platform = run_.platform();
  run_.progress().Enter(Phase::kFlushPieces, -1);
  for (std::int32_t piece = 0; piece < count(); ++piece) {
    if (run_.Cancelled()) return run_.FailCancelled();
    const std::wstring name = run_.set().PieceName(piece);
    piece_ = platform.CreateFile(name.c_str(), kAccessRead | kAccessWrite, kShareRead,
                                 Disposition::kOpenExistingNoLink, Attribute::kNormal);
    if (piece_ == InvalidHandle()) {
      piece_ = nullptr;
      return run_.FailPiece(RC_FILE_WRITE, FailedStep::kOpen, piece);
    }
    FileInformation now;
    if (!platform.GetFileInformationByHandle(piece_, &now)) {
      return run_.FailPiece(RC_FILE_WRITE, FailedStep::kFlush, piece);
    }
    if (!SameFileUnchanged(pieces_[static_cast<std::size_t>(piece)], now)) return Changed(piece);
    if (!platform.FlushFileBuffers(piece_)) {
      return run_.FailPiece(RC_FILE_WRITE, FailedStep::kFlush, piece);
    }
    const bool closed = platform.CloseHandle(piece_);
    piece_ = nullptr;
    if (!closed) return run_.FailPiece(RC_FILE_WRITE, FailedStep::kClose, piece);
  }
  return RC_OK;
}

// After every piece is durable, so that a medium that wraps its writes
// around (a later piece landing on an earlier one) is caught: each piece is
// read again from the medium, through a handle proved to be the piece cut,
// and its fingerprint must be the one recorded.
ResultCode CutPieces::ProveOnMedium() {
  Platform& platform = run_.platform();
  for (std::int32_t piece = 0; piece < count(); ++piece) {
    const std::wstring name = run_.set().PieceName(piece);
    run_.progress().Enter(Phase::kReadBack, piece);
    piece_ = platform.CreateFile(name.c_str(), kAccessRead | kAccessUncached, kShareRead,
                                 Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
    if (piece_ == InvalidHandle()) {
      piece_ = nullptr;
      return run_.FailPiece(RC_FILE_READ, FailedStep::kOpen, piece);
    }
    FileInformation now;
    if (!platform.GetFileInformationByHandle(piece_, &now)) {
      return run_.FailPiece(RC_FILE_READ, FailedStep::kRead, piece);
    }
    if (!SameFileUnchanged(pieces_[static_cast<std::size_t>(piece)], now)) return Changed(piece);
    unsigned char digest[kMd5DigestSize];
    if (!run_.Fingerprint(piece_, digest)) {
      if (run_.Cancelled()) return run_.FailCancelled();
      if (platform.GetLastError() == 0) platform.SetLastError(kErrorReadFault);
      return run_.FailPiece(RC_FILE_READ, FailedStep::kRead, piece);
    }
    run_.Close(&piece_);
    if (std::memcmp(digest, digests_[static_cast<std::size_t>(piece)].data(),
                    kMd5DigestSize) != 0) {
      platform.SetLastError(kErrorWriteFault);
      return run_.FailPiece(RC_FILE_WRITE, FailedStep::kReadBack, piece);
    }
  }
  return RC_OK;
}

ResultCode CutPieces::Confirm() {
  Platform& platform = run_.platform();
  for (std::int32_t piece = 0; piece < count(); ++piece) {
    FileInformation now;
    if (!LookAt(platform, run_.set().PieceName(piece).c_str(), &now)) {
      const std::uint32_t error = platform.GetLastError();
      if (error == kErrorFileNotFound || error == kErrorCantResolveFilename) {
        return Changed(piece);
      }
      return run_.FailPiece(RC_FILE_WRITE, FailedStep::kOpen, piece);
    }
    if (!SameFileUnchanged(pieces_[static_cast<std::size_t>(piece)], now)) return Changed(piece);
  }
  return RC_OK;
}

void CutPieces::AddKept(std::vector<KeptFile>* kept) {
  names_.clear();
  for (std::int32_t piece = 0; piece < count(); ++piece) {
    names_.push_back(run_.set().PieceName(piece));
  }
  for (std::size_t piece = 0; piece < pieces_.size(); ++piece) {
    kept->push_back({names_[piece].c_str(), pieces_[piece], nullptr});
  }
}

ResultCode CutPieces::Changed(std::int32_t piece) {
  run_.platform().SetLastError(kErrorFileExists);
  return run_.FailPiece(RC_FILE_WRITE, FailedStep::kChanged, piece);
}

}  // namespace tarvelin
