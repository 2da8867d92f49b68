// SPDX-License-Identifier: MIT
// Names derived from a path, the capacities that bound them, and the
// manifest's bytes, which are those of the system's profile functions.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "digest/fingerprint.h"
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
  const std::wstring base = BasePath(c.path);
  EXPECT_EQ(c.base, base);
  EXPECT_EQ(std::wstring(c.base) + L".DAT", ManifestPath(base));
  EXPECT_EQ(std::wstring(c.base) + L".10", PieceName(base, 10));
  EXPECT_EQ(c.path, RebuiltName(c.path, base));
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
  const std::pair<std::int32_t, const wchar_t*> cases[] = {
      {0, L"b.0"}, {9, L"b.9"}, {10, L"b.10"}, {123456, L"b.123456"}, {INT32_MAX, L"b.2147483647"}};
  for (const auto& [n, expected] : cases) EXPECT_EQ(expected, PieceName(L"b", n));
  EXPECT_EQ(L"MD5_VALUE10", PieceKey(10));
}

// The pieces' folder takes the last component of the base path; a folder
// that ends in a separator, or (Windows) a drive, gets none more.
TEST(Names, InAFolderOfTheirOwn) {
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
      {L"stick", L"images" SEP L"disk", L"stick" SEP L"disk"},
      {L"stick" SEP, L"images" SEP L"disk", L"stick" SEP L"disk"},
      {L"/", L"disk", L"/disk"},
      {L"a.b", L"c.d" SEP L"disk", L"a.b" SEP L"disk"},
#if defined(_WIN32)
      {L"E:", L"C:\\images\\disk", L"E:disk"},
      {L"E:/x", L"C:images/disk", L"E:/x\\disk"},
#endif
  };
  for (const auto& [folder, base, expected] : cases) EXPECT_EQ(expected, InFolder(folder, base));
  SplitSet set;
  ASSERT_TRUE(set.Derive(L"images" SEP L"disk.img", kNameCapacity, L"stick"));
  EXPECT_EQ(std::wstring(L"stick" SEP L"disk.DAT"), set.manifest());
  EXPECT_EQ(std::wstring(L"images" SEP L"disk.img"), set.rebuilt());
  EXPECT_EQ(L"stick" SEP L"disk.3", set.PieceName(3));
}

// The limits, for the exports' capacity of 260 and the library's own of
// 32768: a path of capacity - 1 characters, a base path that leaves room
// for ".DAT", and room for the dot and every digit of the highest piece.
TEST(Names, LimitsOfTheCapacities) {
  for (const std::size_t capacity : {kNameCapacity, kLongNameCapacity}) {
    SCOPED_TRACE(capacity);
    const std::wstring longest(capacity - 1, L'p');
    EXPECT_TRUE(PathFits(longest.c_str(), capacity));
    EXPECT_FALSE(PathFits((longest + L"p").c_str(), capacity));
    EXPECT_FALSE(PathFits(nullptr, capacity));

    SplitSet set;
    const std::wstring base(capacity - 5, L'b');
    EXPECT_TRUE(set.Derive((base + L".img").c_str(), capacity));
    EXPECT_FALSE(set.Derive((base + L"b").c_str(), capacity)) << "the manifest would not fit";

    EXPECT_TRUE(PieceNamesFit(base, 999, capacity));
    EXPECT_FALSE(PieceNamesFit(base, 1000, capacity));
    EXPECT_TRUE(set.Derive(base.c_str(), capacity));
    EXPECT_EQ(base + L".999", set.PieceName(999));
    EXPECT_EQ(L"", set.PieceName(1000)) << "a name that does not fit is none";
    EXPECT_EQ(capacity == kLongNameCapacity, set.Derive(std::wstring(300, L'p').c_str(), capacity));
  }
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
    if (record < 0) {
      ours += SourceRecordText(digest);
      ASSERT_TRUE(platform.WritePrivateProfileString(kSourceSection, kValueKey, text, path.c_str()));
    } else {
      ours += PieceRecordText(record, digest);
      ASSERT_TRUE(platform.WritePrivateProfileString(kPieceSection, PieceKey(record).c_str(), text,
                                                     path.c_str()));
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
      const std::wstring value =
          ReadManifestValue(platform, kPieceSection, PieceKey(piece).c_str(), set.manifest());
      EXPECT_EQ(piece < 2, !value.empty() && set.recorded(piece).Matches(value.c_str()));
    }
#endif
  }
}

}  // namespace
}  // namespace tarvelin
