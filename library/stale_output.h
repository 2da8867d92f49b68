// SPDX-License-Identifier: MIT
// What may already stand at the names that a split is about to create, and
// whether the split may clear it. A split never writes over bytes that are
// not its own: it creates every piece and its manifest as new files. What
// stands at those names is cleared only when it holds nothing that is not
// held elsewhere, proved by content:
//   - a piece file, when every byte of it is the held source's bytes at that
//     piece's place, which follows from the sizes of the pieces before it
//     (so pieces cut at any size, and one cut part way, are recognised);
//   - a manifest, when every byte of it is the start of what a split of this
//     source writes while cutting those same pieces: it then records this
//     source and nothing beyond them (an empty one records nothing).
// What a manifest says never makes a piece stale. Each file must moreover be
// a regular file with one name, owned by the user running the split, and not
// the source itself. Anything else at the names that the split creates (a
// file of other bytes, a link, a folder, a manifest that a running split
// holds) makes the split refuse before it changes anything; stale pieces
// beyond those names go while they follow on, and the first file that is
// not stale ends them, untouched.
//
// The manifest is deleted first and the pieces last to first, each only
// while it is still the file judged, so that an interruption leaves a run of
// pieces from 0 that the next split recognises again by their bytes.
#ifndef TARVELIN_LIBRARY_STALE_OUTPUT_H_
#define TARVELIN_LIBRARY_STALE_OUTPUT_H_

#include <cstdint>

#include "library/failure_report.h"
#include "library/progress_reporter.h"
#include "library/result_codes.h"
#include "library/split_set.h"
#include "platform/platform.h"

namespace tarvelin {

struct HeldSource {
  FileHandle file;              // open for reading; its position is moved
  FileInformation information;  // taken through `file`
  const unsigned char* digest;  // its fingerprint
};

// Looks at the manifest's name and at the piece names of `set` from 0, for
// a split that creates pieces 0 to `highest_piece` of `source`. Removes
// stale output and returns RC_OK when the names are then free. Otherwise
// changes nothing and returns RC_FILE_OPEN with the name in the way in
// `report` (last error ERROR_FILE_EXISTS, or the open's own: a sharing
// violation for a manifest that a running split holds); a stale file whose
// deletion fails gives RC_FILE_DELETE. `buffer` holds kChunkSize bytes.
// `progress` hears of each piece as it is looked at. May throw
// std::bad_alloc.
ResultCode ClearStaleOutput(Platform& platform, const SplitSet& set, std::int32_t highest_piece,
                            const HeldSource& source, unsigned char* buffer,
                            ProgressReporter& progress, FailureReport* report);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_STALE_OUTPUT_H_
