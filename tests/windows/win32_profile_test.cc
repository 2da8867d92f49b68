// SPDX-License-Identifier: MIT
// The real profile functions, as the manifest meets them: the exact bytes that
// they write (which the POSIX emulation reproduces, so that a manifest moves
// between systems unchanged) and how they read values back.
#include <algorithm>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

const wchar_t kSource[] = L"D4 1D 8C D9 8F 00 B2 04 E9 80 09 98 EC F8 42 7E";
const wchar_t kPiece0[] = L"90 01 50 98 3C D2 4F B0 D6 96 3F 7D 28 E1 7F 72";
const wchar_t kPiece1[] = L"00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
const wchar_t kPiece2[] = L"0C C1 75 B9 C0 F1 B6 A8 31 C3 99 E2 69 77 26 61";

// What a split of three pieces leaves in its manifest, byte for byte.
const char kManifestBytes[] =
    "[SrcImageMD5]\r\n"
    "MD5_VALUE=D4 1D 8C D9 8F 00 B2 04 E9 80 09 98 EC F8 42 7E\r\n"
    "[SplitImageMD5]\r\n"
    "MD5_VALUE0=90 01 50 98 3C D2 4F B0 D6 96 3F 7D 28 E1 7F 72\r\n"
    "MD5_VALUE1=00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n"
    "MD5_VALUE2=0C C1 75 B9 C0 F1 B6 A8 31 C3 99 E2 69 77 26 61\r\n";

class Win32ProfileTest : public ::testing::Test {
 protected:
  // Records a split of three pieces, in the order the split records them.
  void WriteManifest(const std::wstring& path) {
    ASSERT_TRUE(Put(L"SrcImageMD5", L"MD5_VALUE", kSource, path));
    ASSERT_TRUE(Put(L"SplitImageMD5", L"MD5_VALUE0", kPiece0, path));
    ASSERT_TRUE(Put(L"SplitImageMD5", L"MD5_VALUE1", kPiece1, path));
    ASSERT_TRUE(Put(L"SplitImageMD5", L"MD5_VALUE2", kPiece2, path));
  }

  bool Put(const wchar_t* section, const wchar_t* key, const wchar_t* value,
           const std::wstring& path) {
    return platform_.WritePrivateProfileString(section, key, value, path.c_str());
  }

  // Reads like the merge: 2048 characters, empty default unless given.
  std::wstring Get(const wchar_t* section, const wchar_t* key, const std::wstring& path,
                   const wchar_t* default_value = L"") {
    wchar_t buffer[2048] = {};
    platform_.GetPrivateProfileString(section, key, default_value, buffer, 2048, path.c_str());
    return buffer;
  }

  Platform& platform_ = DefaultPlatform();
  testing::TempDir dir_;
};

TEST_F(Win32ProfileTest, ManifestOfAFreshFileHasTheseBytes) {
  const std::wstring path = dir_.Path(L"image.DAT");
  WriteManifest(path);
  EXPECT_EQ(testing::ReadFileBytes(path), kManifestBytes);
}

// The split creates the manifest empty and holds it open, sharing reading and
// writing, while it records into it.
TEST_F(Win32ProfileTest, ManifestHeldOpenEmptyGetsTheSameBytes) {
  const std::wstring path = dir_.Path(L"held.DAT");
  FileHandle held = platform_.CreateFile(path.c_str(), kAccessRead | kAccessWrite,
                                         kShareRead | kShareWrite, Disposition::kCreateAlways,
                                         Attribute::kNormal);
  ASSERT_NE(held, InvalidHandle());
  WriteManifest(path);
  platform_.CloseHandle(held);
  EXPECT_EQ(testing::ReadFileBytes(path), kManifestBytes);
}

TEST_F(Win32ProfileTest, WritingIntoAFileHeldExclusivelyFails) {
  const std::wstring path = dir_.Path(L"exclusive.DAT");
  FileHandle held = platform_.CreateFile(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                                         Disposition::kCreateAlways, Attribute::kNormal);
  ASSERT_NE(held, InvalidHandle());
  EXPECT_FALSE(Put(L"SrcImageMD5", L"MD5_VALUE", kSource, path));
  platform_.CloseHandle(held);
}

TEST_F(Win32ProfileTest, RewritingAKeyReplacesItsValueInPlace) {
  const std::wstring path = dir_.Path(L"rewrite.DAT");
  WriteManifest(path);
  ASSERT_TRUE(Put(L"SrcImageMD5", L"MD5_VALUE", kPiece1, path));
  std::string expected = kManifestBytes;
  const std::string old_value = "D4 1D 8C D9 8F 00 B2 04 E9 80 09 98 EC F8 42 7E";
  expected.replace(expected.find(old_value), old_value.size(),
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(testing::ReadFileBytes(path), expected);
}

TEST_F(Win32ProfileTest, NamesCompareWithoutRegardToCase) {
  const std::wstring path = dir_.Path(L"case.DAT");
  WriteManifest(path);
  EXPECT_EQ(Get(L"SrcImageMD5", L"MD5_VALUE", path), kSource);
  EXPECT_EQ(Get(L"srcimagemd5", L"md5_value", path), kSource);
  EXPECT_EQ(Get(L"SPLITIMAGEMD5", L"Md5_Value2", path), kPiece2);
}

TEST_F(Win32ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
  const std::wstring path = dir_.Path(L"defaults.DAT");
  WriteManifest(path);
  const std::wstring missing_file = dir_.Path(L"missing.DAT");
  EXPECT_EQ(Get(L"SplitImageMD5", L"MD5_VALUE3", path), L"");  // where the merge stops
  EXPECT_EQ(Get(L"SplitImageMD5", L"MD5_VALUE3", path, L"none"), L"none");
  EXPECT_EQ(Get(L"Other", L"MD5_VALUE", path, L"none"), L"none");
  EXPECT_EQ(Get(L"SrcImageMD5", L"MD5_VALUE", missing_file, L"none"), L"none");
  EXPECT_EQ(Get(L"SrcImageMD5", L"MD5_VALUE", missing_file), L"");
  EXPECT_FALSE(testing::FileExists(missing_file));  // reading creates nothing
}

TEST_F(Win32ProfileTest, ValueIsCutToTheBufferAndTerminated) {
  const std::wstring path = dir_.Path(L"cut.DAT");
  WriteManifest(path);
  wchar_t buffer[11];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  const std::uint32_t count =
      platform_.GetPrivateProfileString(L"SrcImageMD5", L"MD5_VALUE", L"", buffer, 10,
                                        path.c_str());
  EXPECT_EQ(count, 9u);
  EXPECT_EQ(std::wstring(buffer), L"D4 1D 8C ");
  EXPECT_EQ(buffer[10], L'#');  // nothing past the given size
}

}  // namespace
}  // namespace tarvelin
