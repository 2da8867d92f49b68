// SPDX-License-Identifier: MIT
// The read-only check of a split: every recorded piece against its
// fingerprint, the pieces joined against the fingerprint of the source, and
// what a merge of the same path would answer, all without changing a byte on
// disk. Each piece is read once; its bytes feed both its own digest and the
// digest of the whole. Each piece's verdict goes to the caller as it is
// reached (OperationOptions::on_piece), so that a record of a million pieces
// needs no list of them.
#ifndef TARVELIN_LIBRARY_VERIFY_H_
#define TARVELIN_LIBRARY_VERIFY_H_

#include <cstdint>

#include "library/operations.h"
#include "library/result_codes.h"

namespace tarvelin {

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
  std::int32_t recorded = 0;    // the pieces that the manifest records
  std::int32_t unrecorded = 0;  // piece files past them, which a merge leaves
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
// RC_FILE_OPEN or RC_FILE_READ (a piece, the manifest or the existing file
// that it could not open or read whole; also out of memory), or
// RC_DIGEST_MISMATCH; with the options' cancellation, RC_CANCELLED. A file at
// the path is judged as the merge judges it (existing_file.h), and the pieces
// after the ones joined in it as the merge would join them. Failures that
// only writing would meet (creating the rebuilt file, a full disk, a deletion
// refused) cannot be foreseen by reading and are not predicted. Fills
// `report` (which may be null); progress goes to the options' callback with
// the phases kFindJoined, kVerifyPiece and kVerifyWhole. Opens nothing for
// writing and never throws.
ResultCode Verify(const wchar_t* path, const OperationOptions& options, VerifyReport* report);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_VERIFY_H_
