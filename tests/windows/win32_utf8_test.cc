// SPDX-License-Identifier: MIT
// UTF-8 conversion through the system's code-page functions: what the
// fingerprint hands to the narrow open, and the bounded form's promise never
// to write past its buffer.
#include <algorithm>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "platform/utf8.h"

namespace tarvelin {
namespace {

struct Sample {
  const wchar_t* wide;
  const char* utf8;
};

const Sample kSamples[] = {
    {L"", ""},
    {L"C:\\images\\install.wim", "C:\\images\\install.wim"},
    {L"d\u00e9j\u00e0", "d\xc3\xa9j\xc3\xa0"},
    {L"\u4e2d\u6587", "\xe4\xb8\xad\xe6\x96\x87"},
    {L"\U0001F600", "\xf0\x9f\x98\x80"},  // a surrogate pair in UTF-16
    {L"\xD800x", "\xef\xbf\xbdx"},        // a lone surrogate becomes U+FFFD
};

TEST(Win32Utf8Test, ConvertsEachSampleBothWays) {
  for (const Sample& sample : kSamples) {
    SCOPED_TRACE(sample.utf8);
    EXPECT_EQ(WideToUtf8(std::wstring(sample.wide)), sample.utf8);
    char bounded[64];
    EXPECT_EQ(WideToUtf8(sample.wide, bounded, sizeof bounded), std::string(sample.utf8).size() + 1);
    EXPECT_STREQ(bounded, sample.utf8);
    if (std::wstring(sample.wide) != L"\xD800x") {
      EXPECT_EQ(Utf8ToWide(sample.utf8), sample.wide);
    }
  }
}

TEST(Win32Utf8Test, MalformedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xff" "b"), L"a\xFFFD" L"b");
  EXPECT_EQ(Utf8ToWide("\xc3"), L"\xFFFD");  // cut short
}

TEST(Win32Utf8Test, UnboundedFormsKeepEmbeddedTerminators) {
  const std::wstring wide(L"a\0\u00e9", 3);
  const std::string utf8("a\0\xc3\xa9", 4);
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(Utf8ToWide(utf8), wide);
}

// "d\u00e9j\u00e0" takes 7 bytes with its terminator: every smaller buffer gets
// an empty string and nothing past its end.
TEST(Win32Utf8Test, BoundedFormFitsOrWritesAnEmptyString) {
  for (std::size_t capacity = 0; capacity <= 8; ++capacity) {
    SCOPED_TRACE(capacity);
    char buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    const std::size_t written = WideToUtf8(L"d\u00e9j\u00e0", buffer, capacity);
    if (capacity >= 7) {
      EXPECT_EQ(written, 7u);
      EXPECT_STREQ(buffer, "d\xc3\xa9j\xc3\xa0");
    } else {
      EXPECT_EQ(written, 0u);
      if (capacity > 0) {
        EXPECT_EQ(buffer[0], '\0');
      }
    }
    for (std::size_t i = std::max<std::size_t>(capacity, written); i < sizeof buffer; ++i) {
      ASSERT_EQ(buffer[i], '#') << "written past the buffer at " << i;
    }
  }
}

}  // namespace
}  // namespace tarvelin
