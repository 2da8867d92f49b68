// SPDX-License-Identifier: MIT
// Piece files whose bytes the rebuilt file already holds, which a merge
// deletes besides the pieces it joins: a merge stopped between appending a
// piece and deleting it leaves the piece on disk too, and a split stopped
// part way leaves the piece it was cutting beside its source. Each goes only
// when it is proved a copy (by its fingerprint, or byte by byte), and only
// while the rebuilt file stands as noted (rebuilt_file.h). The host's wish
// to stop is honoured between files and at every read of a fingerprint.
#ifndef TARVELIN_LIBRARY_PIECE_COPIES_H_
#define TARVELIN_LIBRARY_PIECE_COPIES_H_

#include <cstdint>

#include "library/operation.h"
#include "library/rebuilt_file.h"

namespace tarvelin {

// Deletes each piece file from 0 to `count` - 1 whose fingerprint is its
// record, which the search for joined pieces proved to be that of the bytes
// the rebuilt file holds at its place. One whose bytes are others, or that
// cannot be opened or read whole, stays, and the host hears of it
// (kFailed or kUnreadable), so that nobody is told it went.
ResultCode DeleteCopiesOfJoined(Operation& run, RebuiltFile& rebuilt, std::int32_t count);

// Deletes the piece files from `first` on while each holds nothing but the
// bytes of the rebuilt file (`size` bytes in all) at its place, the first
// at `place`; the first that does not ends them, untouched.
ResultCode DeleteTailPieces(Operation& run, RebuiltFile& rebuilt, std::int32_t first,
                            std::uint64_t place, std::uint64_t size);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_PIECE_COPIES_H_
