// SPDX-License-Identifier: MIT
// Piece files past the ones that the manifest records: a merge never takes
// them, since they have nothing to be proved against, and leaves them in
// place; the host hears of each, from the merge and the verify alike.
#ifndef TARVELIN_LIBRARY_UNRECORDED_PIECES_H_
#define TARVELIN_LIBRARY_UNRECORDED_PIECES_H_

#include <cstdint>

#include "library/operations.h"
#include "library/split_set.h"
#include "platform/platform.h"

namespace tarvelin {

// Tells each piece file from the first past the record of `set` up to the
// first gap to `options.on_piece`, if one is given, as kNotRecorded, and
// returns how many there are. May throw std::bad_alloc.
std::int32_t TellUnrecordedPieces(Platform& platform, const SplitSet& set,
                                  const OperationOptions& options);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_UNRECORDED_PIECES_H_
