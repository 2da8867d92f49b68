// SPDX-License-Identifier: MIT
// The read-only check of a split: every recorded piece against its
// fingerprint, the pieces joined against the fingerprint of the source, and
// what a merge of the same path would answer, all without changing a byte on
// disk. Each piece is read once; its bytes feed both its own digest and the
// digest of the whole.
#ifndef TARVELIN_LIBRARY_VERIFY_H_
#define TARVELIN_LIBRARY_VERIFY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "library/operations.h"
#include "library/result_codes.h"

namespace tarvelin {

enum class PieceState {
  kOk,          // read whole, and its fingerprint is the recorded one
  kFailed,      // read whole, and its fingerprint differs from the recorded one
  kUnreadable,  // it exists but could not be opened, or a read failed
  kMissing,     // no file by its name
  kJoined,      // the file at the path holds it, proved: a merge goes on after it
                // (and deletes this piece's file, if one is left) without reading it
};

struct PieceCheck {
  std::int32_t number = 0;
  std::wstring name;  // the piece file's path, derived from the path given
  PieceState state = PieceState::kMissing;
  std::uint32_t error = 0;  // the platform's last-error value when kUnreadable
  bool open_failed = false;  // kUnreadable: the open failed, not a read
};

enum class WholeState {
  kNotChecked,  // there was nothing to check it against (no manifest)
  kMatches,     // its fingerprint is the recorded fingerprint of the source
  kDiffers,     // its fingerprint is not (or none is recorded)
  kIncomplete,  // the pieces stop at a missing one: the whole cannot be joined
  kUnreadable,  // a piece or the file could not be read whole
  kPartial,     // the file at the path: it begins with the first pieces joined,
                // so a merge would go on from `resume_from`
  kNotOurs,     // the file at the path is a link, has other names or belongs to
                // another user: a merge leaves it alone (RC_FILE_OPEN)
};

struct VerifyReport {
  bool manifest_found = false;
  bool source_fingerprint_recorded = false;
  // The recorded pieces, from 0 in order, one each.
  std::vector<PieceCheck> pieces;
  // Piece files past the recorded ones (left, for instance, by an earlier
  // and longer split); a merge never appends them and leaves them in place.
  std::vector<std::wstring> unrecorded;
  // The recorded pieces joined in order, as far as they go.
  WholeState joined = WholeState::kNotChecked;
  // The first piece at which the join stopped (missing or unreadable), or -1.
  std::int32_t joined_stop = -1;
  // A file already at the given path, and how it compares with the record.
  bool file_exists = false;
  WholeState existing = WholeState::kNotChecked;
  // When it is kPartial: the first piece that a merge would join to it, and
  // the bytes after the joined pieces that a merge would cut off first (the
  // start of that piece, as a merge stopped while appending it leaves).
  std::int32_t resume_from = -1;
  std::uint64_t resume_cut = 0;
  // The piece whose check decides a failing verdict, or -1 when the whole
  // file (joined or existing) or the files' absence decides it.
  std::int32_t deciding_piece = -1;
};

// Checks the split of `path` and returns what Merge(path) would return on the
// files as they are: RC_OK, RC_INVALID_PATH, RC_MANIFEST_NOT_FOUND,
// RC_FILE_OPEN or RC_FILE_READ (a piece or the existing file that it could
// not open or read whole; also out of memory), or RC_DIGEST_MISMATCH. A file
// at the path is searched for the pieces joined in it as the merge searches
// it (joined_pieces.h), and the pieces after them are judged as the merge
// would join them. Failures that only writing would meet (creating the
// rebuilt file, opening the existing one for writing, a full disk, a deletion
// refused) cannot be foreseen by reading and are not predicted. Fills
// `report` (which may be null) with what it found; progress goes to the
// callback of `options` with the phases kFindJoined, kVerifyPiece and
// kVerifyWhole. Opens nothing for writing and never throws.
ResultCode Verify(const wchar_t* path, const OperationOptions& options, VerifyReport* report);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_VERIFY_H_
