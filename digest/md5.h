// SPDX-License-Identifier: MIT
// A streaming MD5 engine (RFC 1321). The context counts bytes, not bits; the
// bit count is made only in Md5Final. Nothing is allocated and nothing can
// fail. Contexts share no state, so separate contexts may run on separate
// threads.
#ifndef TARVELIN_DIGEST_MD5_H_
#define TARVELIN_DIGEST_MD5_H_

#include <array>
#include <cstdint>

namespace tarvelin {

struct Md5Context {
  std::uint32_t count_low;   // bytes fed so far, modulo 2^32
  std::uint32_t count_high;  // carries of count_low past 0xFFFFFFFF
  std::uint32_t a, b, c, d;  // the chaining state
  unsigned char block[64];   // the current incomplete block; first count_low % 64 bytes valid
};

constexpr int kMd5DigestSize = 16;

// A digest as a value, for code that keeps many.
using Md5Digest = std::array<unsigned char, kMd5DigestSize>;

// Makes `context` ready for a new message.
void Md5Init(Md5Context* context);

// Feeds `length` (0 or more) bytes from `data`, which needs no alignment.
void Md5Update(Md5Context* context, const void* data, std::int32_t length);

// Feeds the same `length` (0 or more) bytes from `data` to two different
// contexts, leaving each exactly as Md5Update would, whatever each holds
// buffered. MD5's steps form a single chain of dependent operations that
// keeps a core's arithmetic units mostly idle; the two contexts' chains are
// advanced step by step side by side, so both digests cost little more time
// than one.
void Md5UpdateBoth(Md5Context* first, Md5Context* second, const void* data,
                   std::int32_t length);

// Completes the message and writes the 16-byte digest: A, B, C, D, each least
// significant byte first. The context is spent afterwards but not cleared.
void Md5Final(Md5Context* context, unsigned char digest[kMd5DigestSize]);

// Compresses one 64-byte block into the state words; changes nothing else.
void Md5Transform(Md5Context* context, const unsigned char block[64]);

}  // namespace tarvelin

#endif  // TARVELIN_DIGEST_MD5_H_
