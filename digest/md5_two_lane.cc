// SPDX-License-Identifier: MIT
// Two MD5 contexts fed the same bytes in one pass, their steps interleaved.
//
// Each context meets the bytes at its own offset within its 64-byte blocks
// (what it holds buffered), so each lane completes its own waiting block
// first and then compresses whole blocks of the input at its own offset.
// Those offsets differ by less than a block, so the lanes' counts of whole
// blocks differ by one at most: all but that one run side by side.
#include <algorithm>
#include <cstring>

#include "digest/md5.h"
#include "digest/md5_steps.h"

namespace tarvelin {
namespace {

using md5_internal::LoadLittleEndian32;

// Compresses `count` blocks into each context: `first`'s from `p`,
// `second`'s from `q` (which may be the same bytes), 64 bytes on for each
// block. The two chains share no value, so the processor overlaps them.
void CompressTwoLanes(Md5Context* first, const unsigned char* p, Md5Context* second,
                      const unsigned char* q, std::uint32_t count) {
  std::uint32_t a = first->a, b = first->b, c = first->c, d = first->d;
  std::uint32_t a2 = second->a, b2 = second->b, c2 = second->c, d2 = second->d;

  for (; count != 0; --count, p += 64, q += 64) {
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
    const std::uint32_t a20 = a2, b20 = b2, c20 = c2, d20 = d2;

#define MD5_STEP_TWO_LANES(f, a, b, c, d, k, t, s)               \
  MD5_STEP(f, a, b, c, d, LoadLittleEndian32(p + 4 * (k)), t, s); \
  MD5_STEP(f, a##2, b##2, c##2, d##2, LoadLittleEndian32(q + 4 * (k)), t, s)
    MD5_FOR_EACH_STEP(MD5_STEP_TWO_LANES);
#undef MD5_STEP_TWO_LANES

    a += a0, b += b0, c += c0, d += d0;
    a2 += a20, b2 += b20, c2 += c20, d2 += d20;
  }

  first->a = a, first->b = b, first->c = c, first->d = d;
  second->a = a2, second->b = b2, second->c = c2, second->d = d2;
}

// One context's progress through the shared input.
struct Lane {
  Md5Context* context;
  const unsigned char* next;  // the first input byte not yet taken
  std::uint32_t remaining;    // input bytes from `next` on
  bool block_full = false;    // its buffered block is complete, waiting to be compressed

  Lane(Md5Context* owner, const unsigned char* input, std::uint32_t size)
      : context(owner), next(input), remaining(size) {
    const std::uint32_t index = context->count_low % 64;
    context->count_low += size;
    if (context->count_low < size) ++context->count_high;
    if (index == 0) return;
    // The input first tops up the block that waits in the context.
    const std::uint32_t fill = std::min(64 - index, remaining);
    std::memcpy(context->block + index, next, fill);
    next += fill;
    remaining -= fill;
    block_full = index + fill == 64;
  }

  std::uint32_t whole_blocks() const { return remaining / 64; }

  void CompressOwn(std::uint32_t blocks) {
    for (; blocks != 0; --blocks, next += 64, remaining -= 64) Md5Transform(context, next);
  }
  // What is left is less than a block, and the context's block is empty.
  void KeepTail() { std::memcpy(context->block, next, remaining); }
};

}  // namespace

void Md5UpdateBoth(Md5Context* first, Md5Context* second, const void* data,
                   std::int32_t length) {
  if (length <= 0) return;
  const auto* input = static_cast<const unsigned char*>(data);
  Lane one(first, input, static_cast<std::uint32_t>(length));
  Lane two(second, input, static_cast<std::uint32_t>(length));

  if (one.block_full && two.block_full) {
    CompressTwoLanes(first, first->block, second, second->block, 1);
  } else if (one.block_full) {
    Md5Transform(first, first->block);
  } else if (two.block_full) {
    Md5Transform(second, second->block);
  }

  const std::uint32_t common = std::min(one.whole_blocks(), two.whole_blocks());
  CompressTwoLanes(first, one.next, second, two.next, common);
  one.next += 64 * common, one.remaining -= 64 * common;
  two.next += 64 * common, two.remaining -= 64 * common;
  one.CompressOwn(one.whole_blocks());
  two.CompressOwn(two.whole_blocks());
  one.KeepTail();
  two.KeepTail();
}

}  // namespace tarvelin
