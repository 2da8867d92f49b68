// SPDX-License-Identifier: MIT
// MD5 after RFC 1321, in the manner of Solar Designer's public-domain code:
// one STEP macro and the 64 steps written out, with the working values and the
// sixteen message words in local variables, so that no table and no loop
// stands between the compiler and the registers.
#include "digest/md5.h"

#include <cstring>

namespace tarvelin {
namespace {

// The auxiliary functions, arranged so that the value of the previous step
// (always the `b` argument) enters as late as possible. G adds two terms with
// no bits in common, which equals the RFC's OR; the term without `b` can then
// be summed before `b` is known. I's ~d likewise does not wait for `b`.
#define MD5_F(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define MD5_G(b, c, d) (((c) & ~(d)) + ((d) & (b)))
#define MD5_H(b, c, d) (((c) ^ (d)) ^ (b))
#define MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

// One step: a = b + ((a + f(b, c, d) + x + t) <<< s). The word and the
// constant are added first because they are known long before `b`.
#define MD5_STEP(f, a, b, c, d, x, t, s)      \
  (a) += (x) + (t);                           \
  (a) += f((b), (c), (d));                    \
  (a) = ((a) << (s)) | ((a) >> (32 - (s)));   \
  (a) += (b)

// Little-endian words from bytes, whatever the host's order and the block's
// alignment; compilers turn this into a single load on little-endian hosts.
inline std::uint32_t LoadLittleEndian32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

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

    // Round 1.
    MD5_STEP(MD5_F, a, b, c, d, x0, 0xd76aa478, 7);
    MD5_STEP(MD5_F, d, a, b, c, x1, 0xe8c7b756, 12);
    MD5_STEP(MD5_F, c, d, a, b, x2, 0x242070db, 17);
    MD5_STEP(MD5_F, b, c, d, a, x3, 0xc1bdceee, 22);
    MD5_STEP(MD5_F, a, b, c, d, x4, 0xf57c0faf, 7);
    MD5_STEP(MD5_F, d, a, b, c, x5, 0x4787c62a, 12);
    MD5_STEP(MD5_F, c, d, a, b, x6, 0xa8304613, 17);
    MD5_STEP(MD5_F, b, c, d, a, x7, 0xfd469501, 22);
    MD5_STEP(MD5_F, a, b, c, d, x8, 0x698098d8, 7);
    MD5_STEP(MD5_F, d, a, b, c, x9, 0x8b44f7af, 12);
    MD5_STEP(MD5_F, c, d, a, b, x10, 0xffff5bb1, 17);
    MD5_STEP(MD5_F, b, c, d, a, x11, 0x895cd7be, 22);
    MD5_STEP(MD5_F, a, b, c, d, x12, 0x6b901122, 7);
    MD5_STEP(MD5_F, d, a, b, c, x13, 0xfd987193, 12);
    MD5_STEP(MD5_F, c, d, a, b, x14, 0xa679438e, 17);
    MD5_STEP(MD5_F, b, c, d, a, x15, 0x49b40821, 22);

    // Round 2.
    MD5_STEP(MD5_G, a, b, c, d, x1, 0xf61e2562, 5);
    MD5_STEP(MD5_G, d, a, b, c, x6, 0xc040b340, 9);
    MD5_STEP(MD5_G, c, d, a, b, x11, 0x265e5a51, 14);
    MD5_STEP(MD5_G, b, c, d, a, x0, 0xe9b6c7aa, 20);
    MD5_STEP(MD5_G, a, b, c, d, x5, 0xd62f105d, 5);
    MD5_STEP(MD5_G, d, a, b, c, x10, 0x02441453, 9);
    MD5_STEP(MD5_G, c, d, a, b, x15, 0xd8a1e681, 14);
    MD5_STEP(MD5_G, b, c, d, a, x4, 0xe7d3fbc8, 20);
    MD5_STEP(MD5_G, a, b, c, d, x9, 0x21e1cde6, 5);
    MD5_STEP(MD5_G, d, a, b, c, x14, 0xc33707d6, 9);
    MD5_STEP(MD5_G, c, d, a, b, x3, 0xf4d50d87, 14);
    MD5_STEP(MD5_G, b, c, d, a, x8, 0x455a14ed, 20);
    MD5_STEP(MD5_G, a, b, c, d, x13, 0xa9e3e905, 5);
    MD5_STEP(MD5_G, d, a, b, c, x2, 0xfcefa3f8, 9);
    MD5_STEP(MD5_G, c, d, a, b, x7, 0x676f02d9, 14);
    MD5_STEP(MD5_G, b, c, d, a, x12, 0x8d2a4c8a, 20);

    // Round 3.
    MD5_STEP(MD5_H, a, b, c, d, x5, 0xfffa3942, 4);
    MD5_STEP(MD5_H, d, a, b, c, x8, 0x8771f681, 11);
    MD5_STEP(MD5_H, c, d, a, b, x11, 0x6d9d6122, 16);
    MD5_STEP(MD5_H, b, c, d, a, x14, 0xfde5380c, 23);
    MD5_STEP(MD5_H, a, b, c, d, x1, 0xa4beea44, 4);
    MD5_STEP(MD5_H, d, a, b, c, x4, 0x4bdecfa9, 11);
    MD5_STEP(MD5_H, c, d, a, b, x7, 0xf6bb4b60, 16);
    MD5_STEP(MD5_H, b, c, d, a, x10, 0xbebfbc70, 23);
    MD5_STEP(MD5_H, a, b, c, d, x13, 0x289b7ec6, 4);
    MD5_STEP(MD5_H, d, a, b, c, x0, 0xeaa127fa, 11);
    MD5_STEP(MD5_H, c, d, a, b, x3, 0xd4ef3085, 16);
    MD5_STEP(MD5_H, b, c, d, a, x6, 0x04881d05, 23);
    MD5_STEP(MD5_H, a, b, c, d, x9, 0xd9d4d039, 4);
    MD5_STEP(MD5_H, d, a, b, c, x12, 0xe6db99e5, 11);
    MD5_STEP(MD5_H, c, d, a, b, x15, 0x1fa27cf8, 16);
    MD5_STEP(MD5_H, b, c, d, a, x2, 0xc4ac5665, 23);

    // Round 4.
    MD5_STEP(MD5_I, a, b, c, d, x0, 0xf4292244, 6);
    MD5_STEP(MD5_I, d, a, b, c, x7, 0x432aff97, 10);
    MD5_STEP(MD5_I, c, d, a, b, x14, 0xab9423a7, 15);
    MD5_STEP(MD5_I, b, c, d, a, x5, 0xfc93a039, 21);
    MD5_STEP(MD5_I, a, b, c, d, x12, 0x655b59c3, 6);
    MD5_STEP(MD5_I, d, a, b, c, x3, 0x8f0ccc92, 10);
    MD5_STEP(MD5_I, c, d, a, b, x10, 0xffeff47d, 15);
    MD5_STEP(MD5_I, b, c, d, a, x1, 0x85845dd1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x8, 0x6fa87e4f, 6);
    MD5_STEP(MD5_I, d, a, b, c, x15, 0xfe2ce6e0, 10);
    MD5_STEP(MD5_I, c, d, a, b, x6, 0xa3014314, 15);
    MD5_STEP(MD5_I, b, c, d, a, x13, 0x4e0811a1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x4, 0xf7537e82, 6);
    MD5_STEP(MD5_I, d, a, b, c, x11, 0xbd3af235, 10);
    MD5_STEP(MD5_I, c, d, a, b, x2, 0x2ad7d2bb, 15);
    MD5_STEP(MD5_I, b, c, d, a, x9, 0xeb86d391, 21);

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
