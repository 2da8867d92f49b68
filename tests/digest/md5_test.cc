// SPDX-License-Identifier: MIT
#include "digest/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace tarvelin {
namespace {

std::string Hex(const unsigned char* bytes, std::size_t size) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

// Digests `bytes` fed in pieces whose lengths come from `next_piece`.
template <typename NextPiece>
std::string DigestInPieces(const std::string& bytes, NextPiece next_piece) {
  Md5Context context;
  Md5Init(&context);
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    const std::size_t piece = std::min<std::size_t>(next_piece(), bytes.size() - offset);
    Md5Update(&context, bytes.data() + offset, static_cast<std::int32_t>(piece));
    offset += piece;
  }
  unsigned char digest[kMd5DigestSize];
  Md5Final(&context, digest);
  return Hex(digest, sizeof digest);
}

std::string DigestOf(const std::string& bytes) {
  return DigestInPieces(bytes, [&] { return bytes.size(); });
}

std::string RandomBytes(std::size_t size, std::mt19937& random) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
  return bytes;
}

const struct {
  const char* message;
  const char* digest;
} kRfc1321Cases[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890"
     "1234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, GivesTheReferenceDigestsOfRfc1321) {
  for (const auto& c : kRfc1321Cases) {
    EXPECT_EQ(DigestOf(c.message), c.digest) << '"' << c.message << '"';
  }
}

// Lengths around the padding boundaries: 55 leaves room for the length in the
// last block, 56 to 63 push it into an extra block, 64 starts a fresh one.
TEST(Md5, PadsEveryLengthAroundTheBlockBoundary) {
  const struct {
    std::size_t length;
    const char* digest;  // of that many 'a' bytes
  } kCases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
      {57, "652b906d60af96844ebd21b674f35e93"},  {63, "b06521f39153d618550606be297466d5"},
      {64, "014842d480b571495a4a0363793f7367"},  {65, "c743a45e0d2e6a95cb859adae0248435"},
      {119, "8a7bd0732ed6a28ce75f6dabc90e1613"}, {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
      {121, "f6acfca2d47c87f2b14ca038234d3614"}, {127, "020406e1d05cdc2aa287641f7ae2cc39"},
      {128, "e510683b3f5ffe4093d021808bc6ff70"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(DigestOf(std::string(c.length, 'a')), c.digest) << c.length << " bytes";
  }
}

// Any division of the same bytes gives the same digest: the buffering rule
// must carry partial blocks across updates of every size, and odd pieces put
// the whole blocks read from the caller's data at every alignment.
TEST(Md5, AnyDivisionOfTheBytesGivesTheSameDigest) {
  std::mt19937 random(20240611);
  const std::size_t kLengths[] = {0, 1, 63, 64, 65, 127, 128, 1000, 1023, 1024, 1025, 4099};
  std::vector<std::size_t> lengths(std::begin(kLengths), std::end(kLengths));
  for (int i = 0; i < 8; ++i) lengths.push_back(random() % 20000);

  for (std::size_t length : lengths) {
    const std::string bytes = RandomBytes(length, random);
    const std::string whole = DigestOf(bytes);
    for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 1024u}) {
      EXPECT_EQ(DigestInPieces(bytes, [&] { return piece; }), whole)
          << length << " bytes in pieces of " << piece;
    }
    // Random pieces, a third of them empty.
    std::mt19937 pieces(static_cast<unsigned>(length));
    EXPECT_EQ(DigestInPieces(bytes, [&] { return pieces() % 3 == 0 ? 0 : pieces() % 200; }),
              whole)
        << length << " bytes in random pieces";
  }
}

TEST(Md5, ZeroLengthUpdateChangesNothing) {
  for (std::size_t waiting : {0u, 1u, 37u, 63u, 64u}) {
    // Md5Init leaves the block buffer as it finds it; clearing it first keeps
    // the comparison below away from bytes that were never written.
    Md5Context context;
    std::memset(&context, 0, sizeof context);
    Md5Init(&context);
    const std::string bytes(waiting, 'q');
    Md5Update(&context, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    Md5Context before;
    std::memcpy(&before, &context, sizeof context);
    Md5Update(&context, "ignored", 0);
    EXPECT_EQ(std::memcmp(&before, &context, sizeof context), 0) << waiting << " bytes waiting";
  }
}

// Md5Transform alone: the state after one block equals what the update of
// that block leaves, and no field but the state words moves.
TEST(Md5, TransformChangesOnlyTheStateWords) {
  std::mt19937 random(3);
  const std::string block = RandomBytes(64, random);
  Md5Context by_update;
  Md5Init(&by_update);
  Md5Update(&by_update, block.data(), 64);

  Md5Context context;
  Md5Init(&context);
  context.count_low = 0x12345678;
  context.count_high = 0x9abcdef0;
  std::memset(context.block, 0x5A, sizeof context.block);
  Md5Transform(&context, reinterpret_cast<const unsigned char*>(block.data()));

  EXPECT_EQ(context.a, by_update.a);
  EXPECT_EQ(context.b, by_update.b);
  EXPECT_EQ(context.c, by_update.c);
  EXPECT_EQ(context.d, by_update.d);
  EXPECT_EQ(context.count_low, 0x12345678u);
  EXPECT_EQ(context.count_high, 0x9abcdef0u);
  for (unsigned char byte : context.block) ASSERT_EQ(byte, 0x5A);
}

TEST(Md5, CountCarriesIntoTheHighWord) {
  Md5Context context;
  Md5Init(&context);
  context.count_low = 0xFFFFFFC0;  // 2^32 - 64: the next 64 bytes reach 2^32
  const std::string block(64, '\0');
  Md5Update(&context, block.data(), 64);
  EXPECT_EQ(context.count_low, 0u);
  EXPECT_EQ(context.count_high, 1u);

  context.count_low = 0xFFFFFFFF;
  Md5Update(&context, block.data(), 2);
  EXPECT_EQ(context.count_low, 1u);
  EXPECT_EQ(context.count_high, 2u);
}

// The length field is the byte count times eight, 64-bit little-endian. The
// expected digest is built here by hand: the waiting bytes, 0x80, zeros up
// to 56, the length bytes as written in the table, one Md5Transform.
TEST(Md5, FinalEncodesTheBitLengthOfLongMessages) {
  const struct {
    std::uint32_t count_high, count_low;
    unsigned char length_bytes[8];
  } kCases[] = {
      {1, 0x00000000, {0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}},  // 2^32 bytes
      {0, 0xFFFFFFC3, {0x18, 0xFE, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x00}},
      {1, 0xE0000003, {0x18, 0x00, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x00}},
      {0x20000000, 0x00000010, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  // wraps 2^64
      {0xFFFFFFFF, 0xFFFFFFF7, {0xB8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : kCases) {
    const std::uint32_t waiting = c.count_low % 64;
    ASSERT_LT(waiting, 56u) << "the table keeps the length in the last block";
    Md5Context context;
    Md5Init(&context);
    context.a = 0x01234567;  // a state reached after many blocks, arbitrary
    context.b = 0x89abcdef;
    context.c = 0xfedcba98;
    context.d = 0x76543210;
    context.count_high = c.count_high;
    context.count_low = c.count_low;
    for (std::uint32_t i = 0; i < waiting; ++i) context.block[i] = static_cast<unsigned char>(i + 1);

    unsigned char last_block[64] = {};
    std::memcpy(last_block, context.block, waiting);
    last_block[waiting] = 0x80;
    std::memcpy(last_block + 56, c.length_bytes, 8);
    Md5Context expected = context;
    Md5Transform(&expected, last_block);

    unsigned char digest[kMd5DigestSize];
    Md5Final(&context, digest);
    const std::uint32_t words[4] = {expected.a, expected.b, expected.c, expected.d};
    unsigned char expected_digest[kMd5DigestSize];
    for (int i = 0; i < 16; ++i) {
      expected_digest[i] = static_cast<unsigned char>(words[i / 4] >> (8 * (i % 4)));
    }
    EXPECT_EQ(Hex(digest, sizeof digest), Hex(expected_digest, sizeof expected_digest))
        << "count " << c.count_high << ":" << c.count_low;
  }
}

std::string Hex(const Md5Context& context) {
  Md5Context copy = context;
  unsigned char digest[kMd5DigestSize];
  Md5Final(&copy, digest);
  return Hex(digest, sizeof digest);
}

TEST(Md5UpdateBoth, GivesTheReferenceDigestsOfRfc1321ToBoth) {
  for (const auto& c : kRfc1321Cases) {
    Md5Context first, second;
    Md5Init(&first);
    Md5Init(&second);
    Md5UpdateBoth(&first, &second, c.message, static_cast<std::int32_t>(std::strlen(c.message)));
    EXPECT_EQ(Hex(first), c.digest) << '"' << c.message << '"';
    EXPECT_EQ(Hex(second), c.digest) << '"' << c.message << '"';
  }
}

// Whatever each context holds buffered, and however the bytes are divided,
// both contexts end exactly as two single updates leave them, every field
// and byte of the block included.
TEST(Md5UpdateBoth, EqualsTwoSingleUpdatesForAnyBufferingAndDivision) {
  std::mt19937 random(7);
  const std::string bytes = RandomBytes(5000, random);
  const std::string prefix = RandomBytes(200, random);
  for (std::size_t held_first : {0u, 1u, 37u, 63u, 64u, 130u}) {
    for (std::size_t held_second : {0u, 5u, 37u, 63u, 127u}) {
      Md5Context both[2], single[2];
      for (Md5Context* context : {&both[0], &both[1], &single[0], &single[1]}) {
        std::memset(context, 0, sizeof *context);
        Md5Init(context);
      }
      Md5Update(&both[0], prefix.data(), static_cast<std::int32_t>(held_first));
      Md5Update(&single[0], prefix.data(), static_cast<std::int32_t>(held_first));
      Md5Update(&both[1], prefix.data() + 50, static_cast<std::int32_t>(held_second));
      Md5Update(&single[1], prefix.data() + 50, static_cast<std::int32_t>(held_second));
      std::mt19937 pieces(static_cast<unsigned>(held_first * 131 + held_second));
      for (std::size_t offset = 0; offset < bytes.size();) {
        const std::size_t piece = std::min<std::size_t>(pieces() % 300, bytes.size() - offset);
        const auto size = static_cast<std::int32_t>(piece);
        Md5UpdateBoth(&both[0], &both[1], bytes.data() + offset, size);
        Md5Update(&single[0], bytes.data() + offset, size);
        Md5Update(&single[1], bytes.data() + offset, size);
        offset += piece;
        for (int lane = 0; lane < 2; ++lane) {
          ASSERT_EQ(std::memcmp(&both[lane], &single[lane], sizeof both[lane]), 0)
              << "lane " << lane << " holding " << held_first << " and " << held_second
              << ", at " << offset;
        }
      }
      EXPECT_EQ(Hex(both[0]), DigestOf(prefix.substr(0, held_first) + bytes));
    }
  }
}

}  // namespace
}  // namespace tarvelin
