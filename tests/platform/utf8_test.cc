// SPDX-License-Identifier: MIT
// UTF-8 conversion of wide paths: exact bytes for every encoded length,
// U+FFFD for what cannot be encoded or decoded, and a bounded form that never
// writes past its buffer.
#include <cstring>
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

// One U+FFFD per maximal subpart: the longest start of a sequence that could
// still have become valid, or else a single byte.
TEST(Utf8Test, MalformedBytesBecomeOneReplacementPerMaximalSubpart) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  } const cases[] = {
      {"\x80", L"\uFFFD"},                                 // lone continuation
      {"\xBF\x80", L"\uFFFD\uFFFD"},
      {"\xC0\xAF", L"\uFFFD\uFFFD"},                       // overlong lead
      {"\xC1\xBF", L"\uFFFD\uFFFD"},
      {"\xE0\x80\xAF", L"\uFFFD\uFFFD\uFFFD"},             // overlong 3-byte
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},             // encoded surrogate
      {"\xF0\x80\x80\xAF", L"\uFFFD\uFFFD\uFFFD\uFFFD"},   // overlong 4-byte
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},   // beyond U+10FFFF
      {"\xF5\x80", L"\uFFFD\uFFFD"},
      {"\xFE\xFF", L"\uFFFD\uFFFD"},
      {"\xC3", L"\uFFFD"},                                 // cut at the end
      {"\xE2\x82", L"\uFFFD"},
      {"\xF0\x9F\x98", L"\uFFFD"},
      {"\xE2\x82" "A", L"\uFFFD" L"A"},                    // cut by a good byte
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", L"\uFFFD\U0001F600"},
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       L"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.utf8));
    EXPECT_EQ(Utf8ToWide(c.utf8), c.wide);
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
