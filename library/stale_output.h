// SPDX-License-Identifier: MIT
// What may already stand at the names that a split is about to create, and
// whether the split may clear it. A split never writes over bytes that it
// cannot prove are its own: it creates every piece and its manifest as new
// files. An existing name is its own only when it is stale output of this
// same source:
//   - a manifest that records the source's fingerprint makes it and the
//     pieces beside it stale: those it records and the one after them, which
//     an interrupted split was cutting (the source is held and proved, so
//     they hold nothing that the source does not);
//   - an empty manifest is stale by itself alone: it holds no bytes and
//     vouches for no piece.
// Anything else at those names (another manifest, a piece of another split, a
// link, a folder, a name with more than one hard link) makes the split refuse
// before it changes anything, so that running the same command again after
// an interrupted split works and nothing else is ever overwritten.
#ifndef TARVELIN_LIBRARY_STALE_OUTPUT_H_
#define TARVELIN_LIBRARY_STALE_OUTPUT_H_

#include <cstdint>

#include "library/failure_report.h"
#include "library/result_codes.h"
#include "library/split_set.h"
#include "platform/platform.h"

namespace tarvelin {

// Looks at the manifest's name and at the names of pieces 0 to
// `highest_piece` of `set`, for a source whose fingerprint is `source`.
// Removes stale output (pieces first, the manifest last, so that an
// interruption leaves it still recognisable) and returns RC_OK when the
// names are then free. Otherwise changes nothing and returns RC_FILE_OPEN
// with the last-error value ERROR_FILE_EXISTS and the name in the way in
// `report`; a stale file that cannot be deleted gives RC_FILE_DELETE. May
// throw std::bad_alloc.
ResultCode ClearStaleOutput(Platform& platform, SplitSet& set, std::int32_t highest_piece,
                            const unsigned char* source, FailureReport* report);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_STALE_OUTPUT_H_
