// SPDX-License-Identifier: MIT
// UTF-8 conversion of wide paths: exact bytes for every encoded length,
// U+FFFD for what cannot be encoded, on POSIX a lossless escape for every
// byte that is not UTF-8, and a bounded form that never writes past its
// buffer.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "platform/utf8.h"

namespace tarvelin {
namespace {

TEST(Utf8Test, EveryEncodedLengthRoundTrips) {
  struct Case {
    std::wstring wide;
    std::string utf8;
  } const cases[] = {
      {L"", ""},
      {L"plain ascii", "plain ascii"},
      {L"\u007F", "\x7F"},
      {L"\u0080", "\xC2\x80"},
      {L"\u00E9", "\xC3\xA9"},
      {L"\u07FF", "\xDF\xBF"},
      {L"\u0800", "\xE0\xA0\x80"},
      {L"\uD7FF", "\xED\x9F\xBF"},
      {L"\uE000", "\xEE\x80\x80"},
      {L"\uFFFD", "\xEF\xBF\xBD"},
      {L"\uFFFF", "\xEF\xBF\xBF"},
      {L"\U00010000", "\xF0\x90\x80\x80"},
      {L"\U0001F600", "\xF0\x9F\x98\x80"},
      {L"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {L"C:/d\u00E9j\u00E0/\u65E5\u672C\U0001F600.wim",
       "C:/d\xC3\xA9j\xC3\xA0/\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80.wim"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
    EXPECT_EQ(Utf8ToWide(c.utf8), c.wide);
    char bounded[64];
    ASSERT_EQ(WideToUtf8(c.wide.c_str(), bounded, sizeof bounded), c.utf8.size() + 1);
    EXPECT_EQ(std::string(bounded), c.utf8);
  }
}

TEST(Utf8Test, EmbeddedNulsSurviveTheUnboundedForms) {
  const std::string utf8("a\0b", 3);
  EXPECT_EQ(Utf8ToWide(utf8), std::wstring(L"a\0b", 3));
  EXPECT_EQ(WideToUtf8(std::wstring(L"a\0b", 3)), utf8);
}

#if !defined(_WIN32)
// Values that UTF-16 cannot even hold; in UTF-32 they must not leak into the
// bytes of a path.
TEST(Utf8Test, WideValuesThatAreNoCharactersBecomeTheReplacement) {
  const wchar_t invalid[] = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0xDBFF),
                             static_cast<wchar_t>(0xDC00), static_cast<wchar_t>(0xDFFF),
                             static_cast<wchar_t>(0x110000), static_cast<wchar_t>(0x7FFFFFFF),
                             static_cast<wchar_t>(-1)};
  for (const wchar_t value : invalid) {
    SCOPED_TRACE(static_cast<long>(value));
    const std::wstring wide = {L'a', value, L'b'};
    EXPECT_EQ(WideToUtf8(wide), "a\xEF\xBF\xBD" "b");
    char bounded[16];
    EXPECT_EQ(WideToUtf8(wide.c_str(), bounded, sizeof bounded), 6u);
    EXPECT_STREQ(bounded, "a\xEF\xBF\xBD" "b");
  }
}

// A Linux name is bytes: each byte of a malformed sequence (its maximal
// subpart, byte by byte) becomes its escape U+DC00 + byte, and the good
// characters after it survive.
std::wstring Escapes(std::initializer_list<unsigned> bytes) {
  std::wstring wide;
  for (unsigned byte : bytes) wide.push_back(static_cast<wchar_t>(0xDC00 + byte));
  return wide;
}

TEST(Utf8Test, MalformedBytesDecodeToTheirEscapes) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  } const cases[] = {
      {"\x80", Escapes({0x80})},                                    // lone continuation
      {"\xBF\x80", Escapes({0xBF, 0x80})},
      {"\xC0\xAF", Escapes({0xC0, 0xAF})},                          // overlong lead
      {"\xC1\xBF", Escapes({0xC1, 0xBF})},
      {"\xE0\x80\xAF", Escapes({0xE0, 0x80, 0xAF})},                // overlong 3-byte
      {"\xED\xA0\x80", Escapes({0xED, 0xA0, 0x80})},                // encoded surrogate
      {"\xED\xB2\x80", Escapes({0xED, 0xB2, 0x80})},                // ... even an escape's
      {"\xF0\x80\x80\xAF", Escapes({0xF0, 0x80, 0x80, 0xAF})},      // overlong 4-byte
      {"\xF4\x90\x80\x80", Escapes({0xF4, 0x90, 0x80, 0x80})},      // beyond U+10FFFF
      {"\xF5\x80", Escapes({0xF5, 0x80})},
      {"\xFE\xFF", Escapes({0xFE, 0xFF})},
      {"\xC3", Escapes({0xC3})},                                    // cut at the end
      {"\xE2\x82", Escapes({0xE2, 0x82})},
      {"\xE2\x82" "A", Escapes({0xE2, 0x82}) + L"A"},               // cut by a good byte
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", Escapes({0xF0, 0x9F, 0x98}) + L"\U0001F600"},
      {"bad\xFF.img", L"bad" + Escapes({0xFF}) + L".img"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.utf8));
    EXPECT_EQ(Utf8ToWide(c.utf8), c.wide);
    EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
    char bounded[32];
    ASSERT_EQ(WideToUtf8(c.wide.c_str(), bounded, sizeof bounded), c.utf8.size() + 1);
    EXPECT_EQ(std::string(bounded), c.utf8);
  }
}

// The property that makes every Linux name usable: bytes -> wide -> bytes is
// the identity. Every string of one and two bytes, then random longer ones
// drawn mostly from the bytes that start, continue or break sequences.
TEST(Utf8Test, EveryByteStringSurvivesTheRoundTrip) {
  const auto check = [](const std::string& bytes) {
    const std::wstring wide = Utf8ToWide(bytes);
    ASSERT_EQ(WideToUtf8(wide), bytes) << ::testing::PrintToString(bytes);
    std::string bounded(bytes.size() + 1, '#');
    ASSERT_EQ(WideToUtf8(wide.c_str(), &bounded[0], bounded.size()),
              bytes.find('\0') == std::string::npos ? bounded.size() : bytes.find('\0') + 1);
  };
  for (int a = 0; a < 256; ++a) {
    for (int b = -1; b < 256; ++b) {
      std::string bytes(1, static_cast<char>(a));
      if (b >= 0) bytes.push_back(static_cast<char>(b));
      check(bytes);
    }
  }
  static const unsigned char kTricky[] = {'a',  '/',  0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                                          0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0,
                                          0xF4, 0xF5, 0xFF};
  std::uint32_t state = 0x2545F491u;
  for (int round = 0; round < 20000; ++round) {
    state = state * 1664525u + 1013904223u;
    std::string bytes(3 + (state >> 28), '\0');
    for (char& c : bytes) {
      state = state * 1664525u + 1013904223u;
      c = static_cast<char>((state >> 24) % 4 == 0 ? state >> 16
                                                    : kTricky[(state >> 16) % sizeof kTricky]);
    }
    check(bytes);
  }
}
#endif

TEST(Utf8Test, TheBoundedFormWritesNothingPastItsCapacity) {
  const std::wstring wide = L"ab\u00E9\U0001F600";  // 1 + 1 + 2 + 4 bytes
  constexpr std::size_t kNeeded = 9;               // with the terminator
  for (std::size_t capacity = 0; capacity <= kNeeded + 1; ++capacity) {
    SCOPED_TRACE(capacity);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    const std::size_t written = WideToUtf8(wide.c_str(), buffer, capacity);
    if (capacity >= kNeeded) {
      EXPECT_EQ(written, kNeeded);
      EXPECT_STREQ(buffer, "ab\xC3\xA9\xF0\x9F\x98\x80");
    } else {
      EXPECT_EQ(written, 0u);
      if (capacity > 0) {
        EXPECT_EQ(buffer[0], '\0');
      }
    }
    for (std::size_t i = capacity < kNeeded ? capacity : kNeeded; i < sizeof buffer; ++i) {
      ASSERT_EQ(buffer[i], '#') << "byte " << i;
    }
  }
}

}  // namespace
}  // namespace tarvelin
