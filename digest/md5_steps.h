// SPDX-License-Identifier: MIT
// The parts of MD5 (RFC 1321) that the one-lane and the two-lane engines
// share: the auxiliary functions, one step, the 64 steps in order, and the
// little-endian words. Internal to digest/.
#ifndef TARVELIN_DIGEST_MD5_STEPS_H_
#define TARVELIN_DIGEST_MD5_STEPS_H_

#include <cstdint>

namespace tarvelin::md5_internal {

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

// The 64 steps of one block, in order, each as
// STEP(function, a, b, c, d, message word index, constant, shift) with the
// working values named a, b, c and d.
#define MD5_FOR_EACH_STEP(STEP)                  \
  STEP(MD5_F, a, b, c, d, 0, 0xd76aa478, 7);     \
  STEP(MD5_F, d, a, b, c, 1, 0xe8c7b756, 12);    \
  STEP(MD5_F, c, d, a, b, 2, 0x242070db, 17);    \
  STEP(MD5_F, b, c, d, a, 3, 0xc1bdceee, 22);    \
  STEP(MD5_F, a, b, c, d, 4, 0xf57c0faf, 7);     \
  STEP(MD5_F, d, a, b, c, 5, 0x4787c62a, 12);    \
  STEP(MD5_F, c, d, a, b, 6, 0xa8304613, 17);    \
  STEP(MD5_F, b, c, d, a, 7, 0xfd469501, 22);    \
  STEP(MD5_F, a, b, c, d, 8, 0x698098d8, 7);     \
  STEP(MD5_F, d, a, b, c, 9, 0x8b44f7af, 12);    \
  STEP(MD5_F, c, d, a, b, 10, 0xffff5bb1, 17);   \
  STEP(MD5_F, b, c, d, a, 11, 0x895cd7be, 22);   \
  STEP(MD5_F, a, b, c, d, 12, 0x6b901122, 7);    \
  STEP(MD5_F, d, a, b, c, 13, 0xfd987193, 12);   \
  STEP(MD5_F, c, d, a, b, 14, 0xa679438e, 17);   \
  STEP(MD5_F, b, c, d, a, 15, 0x49b40821, 22);   \
  STEP(MD5_G, a, b, c, d, 1, 0xf61e2562, 5);     \
  STEP(MD5_G, d, a, b, c, 6, 0xc040b340, 9);     \
  STEP(MD5_G, c, d, a, b, 11, 0x265e5a51, 14);   \
  STEP(MD5_G, b, c, d, a, 0, 0xe9b6c7aa, 20);    \
  STEP(MD5_G, a, b, c, d, 5, 0xd62f105d, 5);     \
  STEP(MD5_G, d, a, b, c, 10, 0x02441453, 9);    \
  STEP(MD5_G, c, d, a, b, 15, 0xd8a1e681, 14);   \
  STEP(MD5_G, b, c, d, a, 4, 0xe7d3fbc8, 20);    \
  STEP(MD5_G, a, b, c, d, 9, 0x21e1cde6, 5);     \
  STEP(MD5_G, d, a, b, c, 14, 0xc33707d6, 9);    \
  STEP(MD5_G, c, d, a, b, 3, 0xf4d50d87, 14);    \
  STEP(MD5_G, b, c, d, a, 8, 0x455a14ed, 20);    \
  STEP(MD5_G, a, b, c, d, 13, 0xa9e3e905, 5);    \
  STEP(MD5_G, d, a, b, c, 2, 0xfcefa3f8, 9);     \
  STEP(MD5_G, c, d, a, b, 7, 0x676f02d9, 14);    \
  STEP(MD5_G, b, c, d, a, 12, 0x8d2a4c8a, 20);   \
  STEP(MD5_H, a, b, c, d, 5, 0xfffa3942, 4);     \
  STEP(MD5_H, d, a, b, c, 8, 0x8771f681, 11);    \
  STEP(MD5_H, c, d, a, b, 11, 0x6d9d6122, 16);   \
  STEP(MD5_H, b, c, d, a, 14, 0xfde5380c, 23);   \
  STEP(MD5_H, a, b, c, d, 1, 0xa4beea44, 4);     \
  STEP(MD5_H, d, a, b, c, 4, 0x4bdecfa9, 11);    \
  STEP(MD5_H, c, d, a, b, 7, 0xf6bb4b60, 16);    \
  STEP(MD5_H, b, c, d, a, 10, 0xbebfbc70, 23);   \
  STEP(MD5_H, a, b, c, d, 13, 0x289b7ec6, 4);    \
  STEP(MD5_H, d, a, b, c, 0, 0xeaa127fa, 11);    \
  STEP(MD5_H, c, d, a, b, 3, 0xd4ef3085, 16);    \
  STEP(MD5_H, b, c, d, a, 6, 0x04881d05, 23);    \
  STEP(MD5_H, a, b, c, d, 9, 0xd9d4d039, 4);     \
  STEP(MD5_H, d, a, b, c, 12, 0xe6db99e5, 11);   \
  STEP(MD5_H, c, d, a, b, 15, 0x1fa27cf8, 16);   \
  STEP(MD5_H, b, c, d, a, 2, 0xc4ac5665, 23);    \
  STEP(MD5_I, a, b, c, d, 0, 0xf4292244, 6);     \
  STEP(MD5_I, d, a, b, c, 7, 0x432aff97, 10);    \
  STEP(MD5_I, c, d, a, b, 14, 0xab9423a7, 15);   \
  STEP(MD5_I, b, c, d, a, 5, 0xfc93a039, 21);    \
  STEP(MD5_I, a, b, c, d, 12, 0x655b59c3, 6);    \
  STEP(MD5_I, d, a, b, c, 3, 0x8f0ccc92, 10);    \
  STEP(MD5_I, c, d, a, b, 10, 0xffeff47d, 15);   \
  STEP(MD5_I, b, c, d, a, 1, 0x85845dd1, 21);    \
  STEP(MD5_I, a, b, c, d, 8, 0x6fa87e4f, 6);     \
  STEP(MD5_I, d, a, b, c, 15, 0xfe2ce6e0, 10);   \
  STEP(MD5_I, c, d, a, b, 6, 0xa3014314, 15);    \
  STEP(MD5_I, b, c, d, a, 13, 0x4e0811a1, 21);   \
  STEP(MD5_I, a, b, c, d, 4, 0xf7537e82, 6);     \
  STEP(MD5_I, d, a, b, c, 11, 0xbd3af235, 10);   \
  STEP(MD5_I, c, d, a, b, 2, 0x2ad7d2bb, 15);    \
  STEP(MD5_I, b, c, d, a, 9, 0xeb86d391, 21)

// Little-endian words from bytes, whatever the host's order and the block's
// alignment; compilers turn this into a single load on little-endian hosts.
inline std::uint32_t LoadLittleEndian32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

}  // namespace tarvelin::md5_internal

#endif  // TARVELIN_DIGEST_MD5_STEPS_H_
