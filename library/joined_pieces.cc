// SPDX-License-Identifier: MIT
#include "library/joined_pieces.h"

#include <cstring>

#include "library/operations.h"

namespace tarvelin {
namespace {

// Every byte read feeds two digests: the whole file's and the running one of
// the piece being sought, both in one pass of the two-lane MD5.
void DigestBoth(Md5Context* whole, Md5Context* piece, const unsigned char* data,
                std::uint32_t size) {
  if (piece != nullptr) {
    Md5UpdateBoth(whole, piece, data, static_cast<std::int32_t>(size));
  } else {
    Md5Update(whole, data, static_cast<std::int32_t>(size));
  }
}

bool DigestIs(const Md5Context& running, const RecordedFingerprint& recorded) {
  Md5Context copy = running;
  unsigned char digest[kMd5DigestSize];
  Md5Final(&copy, digest);
  return recorded.Matches(digest);
}

// Reads until `buffer` holds `size` bytes or the file ends; *got says how
// many it holds.
bool ReadFull(Platform& platform, FileHandle file, unsigned char* buffer, std::uint32_t size,
              std::uint32_t* got) {
  *got = 0;
  while (*got < size) {
    std::uint32_t read = 0;
    if (!platform.ReadFile(file, buffer + *got, size - *got, &read)) return false;
    if (read == 0) break;
    *got += read;
  }
  return true;
}

}  // namespace

bool FindJoinedPieces(Platform& platform, FileHandle file, const SplitSet& set,
                      unsigned char* buffer, const ByteProgress* progress, JoinedPieces* found) {
  *found = JoinedPieces();
  Md5Context whole;
  Md5Context piece;
  Md5Init(&whole);
  Md5Init(&piece);
  found->whole_at_end = whole;
  // Proves every piece that ends where the search stands: the one sought,
  // and after it any empty ones.
  const auto settle = [&] {
    while (found->count < set.recorded_count() && DigestIs(piece, set.recorded(found->count))) {
      ++found->count;
      found->end = found->size;
      found->whole_at_end = whole;
      Md5Init(&piece);
    }
  };
  settle();
  for (;;) {
    std::uint32_t got = 0;
    if (!ReadFull(platform, file, buffer, kChunkSize, &got)) return false;
    if (got == 0) break;
    const bool seeking = found->count < set.recorded_count();
    DigestBoth(&whole, seeking ? &piece : nullptr, buffer, got);
    found->size += got;
    settle();
    if (progress != nullptr && progress->on_bytes != nullptr) {
      progress->on_bytes(progress->context, got);
    }
    if (got < kChunkSize) break;
  }
  found->whole_matches = DigestIs(whole, set.source());
  return true;
}

TailComparison CompareTail(Platform& platform, FileHandle file, std::uint64_t from,
                           FileHandle piece, unsigned char* buffer) {
  if (!platform.SetFilePointer(file, from)) return TailComparison::kFileUnread;
  constexpr std::uint32_t kHalf = kChunkSize / 2;
  unsigned char* const tail = buffer;
  unsigned char* const start = buffer + kHalf;
  for (;;) {
    std::uint32_t tail_got = 0;
    if (!ReadFull(platform, file, tail, kHalf, &tail_got)) return TailComparison::kFileUnread;
    if (tail_got == 0) return TailComparison::kStartsThePiece;
    std::uint32_t start_got = 0;
    if (!ReadFull(platform, piece, start, tail_got, &start_got)) {
      return TailComparison::kPieceUnread;
    }
    if (start_got != tail_got || std::memcmp(tail, start, tail_got) != 0) {
      return TailComparison::kDiffers;
    }
    if (tail_got < kHalf) return TailComparison::kStartsThePiece;
  }
}

}  // namespace tarvelin
