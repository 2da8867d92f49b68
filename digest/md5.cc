// SPDX-License-Identifier: MIT
// MD5 after RFC 1321, in the manner of Solar Designer's public-domain code:
// one STEP macro and the 64 steps written out (md5_steps.h), with the working
// values and the sixteen message words in local variables, so that no table
// and no loop stands between the compiler and the registers.
#include "digest/md5.h"

#include <cstring>

#include "digest/md5_steps.h"

namespace tarvelin {
namespace {

using md5_internal::LoadLittleEndian32;

inline void StoreLittleEndian32(std::uint32_t value, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
  bytes[2] = static_cast<unsigned char>(value >> 16);
  bytes[3] = static_cast<unsigned char>(value >> 24);
}

// The padding: a single 1 bit, then zeros up to the length field.
const unsigned char kPadding[64] = {0x80};

// Compresses `count` consecutive blocks. The chaining state stays in
// registers from one block to the next instead of going through the context,
// which would put a store and a reload on MD5's single dependency chain.
void CompressBlocks(Md5Context* context, const unsigned char* block, std::uint32_t count) {
  std::uint32_t a = context->a;
  std::uint32_t b = context->b;
  std::uint32_t c = context->c;
  std::uint32_t d = context->d;

  for (; count != 0; --count, block += 64) {
    const std::uint32_t x0 = LoadLittleEndian32(block + 0);
    const std::uint32_t x1 = LoadLittleEndian32(block + 4);
    const std::uint32_t x2 = LoadLittleEndian32(block + 8);
    const std::uint32_t x3 = LoadLittleEndian32(block + 12);
    const std::uint32_t x4 = LoadLittleEndian32(block + 16);
    const std::uint32_t x5 = LoadLittleEndian32(block + 20);
    const std::uint32_t x6 = LoadLittleEndian32(block + 24);
    const std::uint32_t x7 = LoadLittleEndian32(block + 28);
    const std::uint32_t x8 = LoadLittleEndian32(block + 32);
    const std::uint32_t x9 = LoadLittleEndian32(block + 36);
    const std::uint32_t x10 = LoadLittleEndian32(block + 40);
    const std::uint32_t x11 = LoadLittleEndian32(block + 44);
    const std::uint32_t x12 = LoadLittleEndian32(block + 48);
    const std::uint32_t x13 = LoadLittleEndian32(block + 52);
    const std::uint32_t x14 = LoadLittleEndian32(block + 56);
    const std::uint32_t x15 = LoadLittleEndian32(block + 60);

    const std::uint32_t a0 = a;
    const std::uint32_t b0 = b;
    const std::uint32_t c0 = c;
    const std::uint32_t d0 = d;

#define MD5_STEP_ONE_LANE(f, a, b, c, d, k, t, s) MD5_STEP(f, a, b, c, d, x##k, t, s)
    MD5_FOR_EACH_STEP(MD5_STEP_ONE_LANE);
#undef MD5_STEP_ONE_LANE

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }

  context->a = a;
  context->b = b;
  context->c = c;
  context->d = d;
}

}  // namespace

void Md5Init(Md5Context* context) {
  context->count_low = 0;
  context->count_high = 0;
  context->a = 0x67452301;
  context->b = 0xefcdab89;
  context->c = 0x98badcfe;
  context->d = 0x10325476;
}

void Md5Transform(Md5Context* context, const unsigned char block[64]) {
  CompressBlocks(context, block, 1);
}

void Md5Update(Md5Context* context, const void* data, std::int32_t length) {
  if (length <= 0) return;
  const unsigned char* input = static_cast<const unsigned char*>(data);
  std::uint32_t remaining = static_cast<std::uint32_t>(length);
  std::uint32_t index = context->count_low % 64;

  context->count_low += remaining;
  if (context->count_low < remaining) ++context->count_high;

  // Complete the waiting partial block first.
  if (index != 0 && remaining >= 64 - index) {
    const std::uint32_t fill = 64 - index;
    std::memcpy(context->block + index, input, fill);
    CompressBlocks(context, context->block, 1);
    input += fill;
    remaining -= fill;
    index = 0;
  }

  // Whole blocks straight from the caller's bytes.
  const std::uint32_t blocks = remaining / 64;
  CompressBlocks(context, input, blocks);
  input += 64 * blocks;
  remaining -= 64 * blocks;

  if (remaining > 0) std::memcpy(context->block + index, input, remaining);
}

void Md5Final(Md5Context* context, unsigned char digest[kMd5DigestSize]) {
  // The length field is the byte count on entry, in bits, modulo 2^64.
  unsigned char length_bytes[8];
  StoreLittleEndian32(context->count_low << 3, length_bytes);
  StoreLittleEndian32((context->count_high << 3) | (context->count_low >> 29), length_bytes + 4);

  const std::uint32_t index = context->count_low % 64;
  const std::uint32_t pad_length = index < 56 ? 56 - index : 120 - index;
  Md5Update(context, kPadding, static_cast<std::int32_t>(pad_length));
  Md5Update(context, length_bytes, 8);

  StoreLittleEndian32(context->a, digest);
  StoreLittleEndian32(context->b, digest + 4);
  StoreLittleEndian32(context->c, digest + 8);
  StoreLittleEndian32(context->d, digest + 12);
}

}  // namespace tarvelin
