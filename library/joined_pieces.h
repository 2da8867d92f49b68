// SPDX-License-Identifier: MIT
// What a file at a merge's path holds of the pieces that its manifest
// records. A merge that stopped part way leaves there pieces 0..k-1, each
// whole, and perhaps the first bytes of piece k; the merge goes on from
// there, and the verify foretells it, both through this one search.
//
// Every piece but the last is a whole number of chunks (kChunkSize), so a
// piece can end only at a chunk boundary or at the end of the file: one pass
// that compares the digest of the bytes since the last proved piece with the
// record of the next, after every chunk, finds each piece and proves it.
#ifndef TARVELIN_LIBRARY_JOINED_PIECES_H_
#define TARVELIN_LIBRARY_JOINED_PIECES_H_

#include <cstdint>

#include "digest/fingerprint.h"
#include "digest/md5.h"
#include "library/split_set.h"
#include "platform/platform.h"

namespace tarvelin {

struct JoinedPieces {
  std::uint64_t size = 0;      // the bytes that the file holds
  bool whole_matches = false;  // its fingerprint is the recorded one of the source
  std::int32_t count = 0;      // pieces 0..count-1 lie at its start, in order, each proved
  std::uint64_t end = 0;       // where the last of them ends; 0 for none
  Md5Context whole_at_end;     // the digest of the bytes before `end`, to go on with
};

// Reads `file` (open for reading, at its start) to its end in chunks of
// kChunkSize through `buffer` (kChunkSize bytes), and fills *found against
// the record of `set`, which must have been read. An empty recorded piece is
// proved wherever the search stands. Progress, when given, hears of every
// chunk. Returns false when a read fails; the last-error value names it, and
// *found holds what was proved before it.
bool FindJoinedPieces(Platform& platform, FileHandle file, const SplitSet& set,
                      unsigned char* buffer, const ByteProgress* progress, JoinedPieces* found);

enum class TailComparison {
  kStartsThePiece,  // the tail is the piece's first bytes (an empty tail always is)
  kDiffers,         // it is not: a byte differs, or the piece is shorter
  kFileUnread,      // a read of the file (or the move to the tail) failed
  kPieceUnread,     // a read of the piece failed
};

// Compares the bytes of `file` from `from` to its end with the first bytes
// of `piece` (open for reading, at its start), through `buffer` (kChunkSize
// bytes); leaves both positions wherever the comparison stopped. A failure
// leaves its last-error value.
TailComparison CompareTail(Platform& platform, FileHandle file, std::uint64_t from,
                           FileHandle piece, unsigned char* buffer);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_JOINED_PIECES_H_
