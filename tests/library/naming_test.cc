// SPDX-License-Identifier: MIT
// Names derived from a path, and the bounds that keep them in their buffers.
#include <gtest/gtest.h>

#include <string>

#include "library/bounded_text.h"
#include "library/manifest.h"
#include "library/naming.h"

namespace tarvelin {
namespace {

#if defined(_WIN32)
#define SEP L"\\"
#else
#define SEP L"/"
#endif

struct NameCase {
  const wchar_t* path;
  const wchar_t* base;
};

class Names : public ::testing::TestWithParam<NameCase> {};

TEST_P(Names, BaseManifestPiecesAndRebuiltFile) {
  const NameCase& c = GetParam();
  wchar_t base[kNameCapacity], manifest[kNameCapacity], piece[kNameCapacity],
      rebuilt[kNameCapacity];
  ASSERT_TRUE(MakeBasePath(c.path, base));
  EXPECT_STREQ(c.base, base);
  ASSERT_TRUE(MakeManifestPath(base, manifest));
  EXPECT_EQ(std::wstring(c.base) + L".DAT", manifest);
  ASSERT_TRUE(MakePieceName(base, 10, piece));
  EXPECT_EQ(std::wstring(c.base) + L".10", piece);
  ASSERT_TRUE(MakeRebuiltName(c.path, base, rebuilt));
  EXPECT_STREQ(c.path, rebuilt);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Names,
    ::testing::Values(NameCase{L"disk.wim", L"disk"}, NameCase{L"D.WIM", L"D"},
                      NameCase{L"backup.2020.wim", L"backup.2020"}, NameCase{L"disk", L"disk"},
                      NameCase{L"dir.v2" SEP L"disk", L"dir.v2" SEP L"disk"},
                      NameCase{L"dir.v2" SEP L"disk.wim", L"dir.v2" SEP L"disk"},
                      NameCase{L"100%s%d.wim", L"100%s%d"}, NameCase{L"disk.w m", L"disk.w m"},
                      NameCase{L"\u65e5\u672c.\u00e9", L"\u65e5\u672c"}, NameCase{L"", L""}));

TEST(Names, PieceNumbersAreDecimalWithoutPadding) {
  wchar_t name[kNameCapacity];
  const std::pair<std::int32_t, const wchar_t*> cases[] = {
      {0, L"b.0"}, {9, L"b.9"}, {10, L"b.10"}, {123456, L"b.123456"}, {INT32_MAX, L"b.2147483647"}};
  for (const auto& [n, expected] : cases) {
    ASSERT_TRUE(MakePieceName(L"b", n, name));
    EXPECT_STREQ(expected, name);
  }
  ASSERT_TRUE(MakePieceKey(10, name));
  EXPECT_STREQ(L"MD5_VALUE10", name);
}

// The limits: a path of 259 characters, a base path of 255 for the
// manifest, and room for the dot and every digit of the highest piece.
TEST(Names, LimitsOfTheBuffers) {
  const std::wstring longest(259, L'p');
  wchar_t out[kNameCapacity];
  EXPECT_TRUE(PathFits(longest.c_str()));
  EXPECT_FALSE(PathFits((longest + L"p").c_str()));
  EXPECT_FALSE(PathFits(nullptr));
  EXPECT_FALSE(MakeBasePath((longest + L"p").c_str(), out));

  const std::wstring base255(255, L'b');
  EXPECT_TRUE(MakeManifestPath(base255.c_str(), out));
  EXPECT_FALSE(MakeManifestPath((base255 + L"b").c_str(), out));
  EXPECT_STREQ(L"", out);

  EXPECT_TRUE(PieceNamesFit(base255.c_str(), 999));
  EXPECT_FALSE(PieceNamesFit(base255.c_str(), 1000));
  EXPECT_TRUE(MakePieceName(base255.c_str(), 999, out));
  EXPECT_FALSE(MakePieceName(base255.c_str(), 1000, out));
  EXPECT_FALSE(PieceNamesFit(L"b", 1ull << 31));
}

TEST(BoundedText, NeverWritesPastTheBuffer) {
  wchar_t buffer[8] = {L'x', L'x', L'x', L'x', L'x', L'x', L'x', L'x'};
  buffer[0] = L'\0';
  EXPECT_TRUE(AppendText(buffer, 6, L"abc"));
  EXPECT_FALSE(AppendText(buffer, 6, L"def"));
  EXPECT_STREQ(L"abc", buffer);
  EXPECT_TRUE(AppendDecimal(buffer, 6, 42));
  EXPECT_STREQ(L"abc42", buffer);
  EXPECT_FALSE(AppendDecimal(buffer, 6, 7));
  EXPECT_EQ(L'x', buffer[6]);
  wchar_t negative[16] = {};
  EXPECT_TRUE(AppendDecimal(negative, 16, INT32_MIN));
  EXPECT_STREQ(L"-2147483648", negative);
}

}  // namespace
}  // namespace tarvelin
