// SPDX-License-Identifier: MIT
#include "library/piece_copies.h"

#include <string>

#include "library/judged_file.h"

namespace tarvelin {
namespace {

// Held against writers while it is judged; nothing but a regular file at
// the name opens.
FileHandle OpenPiece(Platform& platform, const std::wstring& name) {
  return platform.CreateFile(name.c_str(), kAccessRead, kShareRead,
                             Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
}

}  // namespace

ResultCode DeleteCopiesOfJoined(Operation& run, RebuiltFile& rebuilt, std::int32_t count) {
  for (std::int32_t piece = 0; piece < count; ++piece) {
    const std::wstring name = run.set().PieceName(piece);
    PieceCheck left;
    left.number = piece;
    left.name = name;
    left.state = PieceState::kUnreadable;
    FileHandle file = OpenPiece(run.platform(), name);
    if (file == InvalidHandle()) {
      // Gone, or nothing we would take (a link, a folder), which stays.
      left.error = run.platform().GetLastError();
      left.open_failed = true;
      if (run.platform().PathFileExists(name.c_str())) run.TellPiece(left);
      continue;
    }
    FileInformation judged;
    unsigned char digest[kMd5DigestSize];
    const bool read = run.platform().GetFileInformationByHandle(file, &judged) &&
                      run.Fingerprint(file, digest, false);
    left.error = read ? 0 : run.platform().GetLastError();
    const bool copy = read && run.set().recorded(piece).Matches(digest);
    run.Close(&file);
    if (run.Cancelled()) return run.FailCancelled();
    if (!copy) {
      if (read) left.state = PieceState::kFailed;
      run.TellPiece(left);
      continue;
    }
    const ResultCode deleted = rebuilt.DeleteWhileNoted(name, FileRole::kPiece, piece, judged);
    if (deleted != RC_OK) return deleted;
  }
  return RC_OK;
}

ResultCode DeleteTailPieces(Operation& run, RebuiltFile& rebuilt, std::int32_t first,
                            std::uint64_t place, std::uint64_t size) {
  for (std::int32_t piece = first; piece < INT32_MAX; ++piece) {
    const std::wstring name = run.set().PieceName(piece);
    FileHandle file = OpenPiece(run.platform(), name);
    if (file == InvalidHandle()) return RC_OK;
    FileInformation judged;
    const bool held = run.platform().GetFileInformationByHandle(file, &judged) &&
                      MayBeOurs(judged) &&
                      HoldsBytesOf(run.platform(), file, judged.size, rebuilt.held(), size,
                                   place, run.buffer(), kChunkSize);
    run.Close(&file);
    if (run.Cancelled()) return run.FailCancelled();
    if (!held) return RC_OK;
    const ResultCode deleted = rebuilt.DeleteWhileNoted(name, FileRole::kPiece, piece, judged);
    if (deleted != RC_OK) return deleted;
    place += judged.size;
  }
  return RC_OK;
}

}  // namespace tarvelin
