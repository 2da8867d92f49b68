// SPDX-License-Identifier: MIT
// Names derived from a path, the bounds that keep them in their buffers, and
// the manifest's bytes, which are those of the system's profile functions.
#include <gtest/gtest.h>

#include <string>

#include "digest/fingerprint.h"
#include "library/bounded_text.h"
#include "library/manifest.h"
#include "library/naming.h"
#include "library/split_set.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"

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

// The records that a split appends through its handle are the bytes that
// the profile function writes for the same entries, in the same order, into
// an empty file (Windows' own under Wine).
TEST(Manifest, RecordsAreTheBytesThatTheProfileFunctionWrites) {
  testing::TempDir dir;
  const std::wstring path = dir.Path(L"disk.DAT");
  testing::WriteFileBytes(path, "");
  Platform& platform = DefaultPlatform();
  unsigned char digest[kMd5DigestSize];
  std::string ours;
  for (int record = -1; record < 12; ++record) {
    for (int byte = 0; byte < kMd5DigestSize; ++byte) {
      digest[byte] = static_cast<unsigned char>(record * 31 + byte * 7);
    }
    wchar_t text[80] = {};
    FormatFingerprintText(digest, text);
    wchar_t key[kNameCapacity] = {};
    if (record < 0) {
      ours += SourceRecordText(digest);
      ASSERT_TRUE(platform.WritePrivateProfileString(kSourceSection, kValueKey, text, path.c_str()));
    } else {
      ours += PieceRecordText(record, digest);
      MakePieceKey(record, key);
      ASSERT_TRUE(platform.WritePrivateProfileString(kPieceSection, key, text, path.c_str()));
    }
  }
  EXPECT_EQ(testing::ReadFileBytes(path), ours);
}

// A record is read through a handle as the profile functions read it by
// name: in UTF-16 with its mark, in UTF-8 with its mark, with blanks, quotes,
// other cases and repeated sections.
TEST(Manifest, RecordReadsAsTheProfileFunctionsReadIt) {
  const std::string fingerprint = "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF";
  const std::string plain = "[SrcImageMD5]\r\nMD5_VALUE=" + fingerprint +
                            "\r\n[SplitImageMD5]\r\nMD5_VALUE0=" + fingerprint +
                            "\r\nMD5_VALUE1=\"" + fingerprint + "\"\r\n";
  const auto utf16 = [](const std::string& text, bool big_endian) {
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : text) out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
  };
  const std::string variants[] = {
      plain,
      utf16(plain, false),
      utf16(plain, true),
      "\xEF\xBB\xBF" + plain,
      "; a comment\n[ srcimagemd5 ]\n  md5_value =  " + fingerprint +
          "\n[SplitImageMD5]\nMD5_VALUE1=" + fingerprint + "\nMD5_VALUE0 = '" + fingerprint +
          "'\n[SplitImageMD5]\nMD5_VALUE2=" + fingerprint + "\n",
  };
  testing::TempDir dir;
  Platform& platform = DefaultPlatform();
  SplitSet set;
  ASSERT_TRUE(set.Derive(dir.Path(L"disk.img").c_str()));
  for (const std::string& bytes : variants) {
    SCOPED_TRACE(::testing::PrintToString(bytes.substr(0, 24)));
    testing::WriteFileBytes(set.manifest(), bytes);
    const FileHandle held = platform.CreateFile(set.manifest(), kAccessRead, kShareRead,
                                                Disposition::kOpenExistingNoLink,
                                                Attribute::kReadOnly);
    ASSERT_NE(held, InvalidHandle());
    EXPECT_TRUE(set.ReadRecord(platform, held));
    platform.CloseHandle(held);
    unsigned char digest[kMd5DigestSize];
    ASSERT_TRUE(ParseFingerprintText(std::wstring(fingerprint.begin(), fingerprint.end()).c_str(),
                                     digest));
    EXPECT_TRUE(set.source().Matches(digest));
    ASSERT_EQ(2, set.recorded_count());  // MD5_VALUE2 stands in a second section
    EXPECT_TRUE(set.recorded(0).Matches(digest));
    EXPECT_TRUE(set.recorded(1).Matches(digest));
#if defined(_WIN32)
    // Windows' own keyed reads, key by key, agree.
    EXPECT_FALSE(ReadManifestValue(platform, kSourceSection, kValueKey, set.manifest()).empty());
    for (std::int32_t piece = 0; piece < 3; ++piece) {
      wchar_t key[kNameCapacity] = {};
      MakePieceKey(piece, key);
      const std::wstring value = ReadManifestValue(platform, kPieceSection, key, set.manifest());
      EXPECT_EQ(piece < 2, !value.empty() && set.recorded(piece).Matches(value.c_str()));
    }
#endif
  }
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
