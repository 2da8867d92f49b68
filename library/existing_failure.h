// SPDX-License-Identifier: MIT
// What a merge answers when the file already at its path decides alone
// (existing_file.h): the merge tells it, and the verify foretells it, the
// same way.
#ifndef TARVELIN_LIBRARY_EXISTING_FAILURE_H_
#define TARVELIN_LIBRARY_EXISTING_FAILURE_H_

#include <string>

#include "library/existing_file.h"
#include "library/failure.h"
#include "library/split_set.h"

namespace tarvelin {

// The failure that `judged` makes the merge tell, `file` being the name
// that it gives the file at the path: a file that is no merge's work is a
// mismatch (RC_DIGEST_MISMATCH, not resumable), one that is not ours
// RC_FILE_OPEN, one that cannot be read RC_FILE_READ, and a piece whose
// start its tail must be, when that cannot be opened or read, RC_FILE_OPEN
// or RC_FILE_READ. RC_OK for the whole and for a file to go on from.
Failure ExistingFileFailure(const ExistingJudgement& judged, const SplitSet& set,
                            const std::wstring& file);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_EXISTING_FAILURE_H_
