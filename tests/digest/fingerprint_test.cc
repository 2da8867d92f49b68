// SPDX-License-Identifier: MIT
#include "digest/fingerprint.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_errors.h"
#include "platform/utf8.h"
#include "tests/support/fault_platform.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

using testing::FingerprintOf;
using testing::TempDir;
using testing::WriteFileBytes;

const wchar_t kEmptyText[] = L"D4 1D 8C D9 8F 00 B2 04 E9 80 09 98 EC F8 42 7E";
const wchar_t kAbcText[] = L"90 01 50 98 3C D2 4F B0 D6 96 3F 7D 28 E1 7F 72";

// The fingerprint of `path`, read into a buffer full of junk so that a text
// that is not fully written or not terminated shows.
std::wstring FingerprintText(const std::wstring& path, const ByteProgress* progress = nullptr) {
  std::vector<wchar_t> text(kFingerprintTextCapacity, L'#');
  EXPECT_TRUE(GetFileFingerprint(DefaultPlatform(), path.c_str(), text.data(), progress));
  return std::wstring(text.data(), std::wcslen(text.data()));
}

// 47 characters: sixteen upper-case hex pairs with single spaces between.
bool IsWellFormed(const std::wstring& text) {
  if (text.size() != kFingerprintTextLength) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t ch = text[i];
    const bool hex = (ch >= L'0' && ch <= L'9') || (ch >= L'A' && ch <= L'F');
    if (i % 3 == 2 ? ch != L' ' : !hex) return false;
  }
  return true;
}

TEST(FormatFingerprintText, WritesUpperCaseHexPairsWithLeadingZeros) {
  const struct {
    unsigned char digest[kMd5DigestSize];
    const wchar_t* text;
  } kCases[] = {
      {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
        0x0F},
       L"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"},
      {{0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87, 0x78, 0x69, 0x5A, 0x4B, 0x3C, 0x2D, 0x1E,
        0xFF},
       L"F0 E1 D2 C3 B4 A5 96 87 78 69 5A 4B 3C 2D 1E FF"},
      {{}, kZeroFingerprintText},
  };
  for (const auto& c : kCases) {
    wchar_t text[kFingerprintTextCapacity];
    std::wmemset(text, L'#', kFingerprintTextCapacity);
    FormatFingerprintText(c.digest, text);
    EXPECT_STREQ(text, c.text);
  }
  EXPECT_EQ(std::wcslen(kZeroFingerprintText), kFingerprintTextLength);
  EXPECT_STREQ(kZeroFingerprintText, L"00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
}

TEST(GetFileFingerprint, GivesTheDigestOfKnownContents) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"empty"), "");
  WriteFileBytes(dir.Path(L"abc"), "abc");
  EXPECT_EQ(FingerprintText(dir.Path(L"empty")), kEmptyText);
  EXPECT_EQ(FingerprintText(dir.Path(L"abc")), kAbcText);
}

// Sizes around the read request: a short last read, none, and several.
TEST(GetFileFingerprint, DigestsWholeFilesAcrossReadBoundaries) {
  TempDir dir;
  constexpr std::uint64_t kRead = kFingerprintReadSize;
  for (std::uint64_t size : {std::uint64_t{1}, std::uint64_t{1023}, std::uint64_t{1024},
                             std::uint64_t{1025}, std::uint64_t{2048}, std::uint64_t{2049},
                             std::uint64_t{70000}, kRead - 1, kRead, kRead + 1, 2 * kRead,
                             2 * kRead + 63}) {
    const std::string bytes = testing::PatternBytes(size, static_cast<std::uint32_t>(size));
    const std::wstring path = dir.Path(L"file" + std::to_wstring(size));
    WriteFileBytes(path, bytes);
    const std::wstring text = FingerprintText(path);
    EXPECT_EQ(text, FingerprintOf(bytes)) << size << " bytes";
    EXPECT_TRUE(IsWellFormed(text)) << size << " bytes";
  }
}

TEST(GetFileFingerprint, GivesTheZeroTextForWhatCannotBeOpened) {
  TempDir dir;
  const std::wstring kPaths[] = {
      dir.Path(L"missing"),
      L"",
      dir.path(),  // a folder
      dir.Path(L"no-such-folder") + L"/file",
  };
  for (const auto& path : kPaths) {
    EXPECT_EQ(FingerprintText(path), kZeroFingerprintText) << "path \"" << testing::FsPath(path)
                                                           << "\"";
  }
}

TEST(GetFileFingerprint, HandsNonAsciiNamesToTheOpenAsUtf8) {
  TempDir dir;
  const std::wstring path = dir.Path(L"caf\u00e9-\u65e5\u672c-\U0001F600.bin");
  WriteFileBytes(path, "abc");
  EXPECT_EQ(FingerprintText(path), kAbcText);
}

// Another open decides through its sharing whether the file can be digested:
// it must share reading and must not be writing.
TEST(GetFileFingerprint, RespectsTheSharingOfOtherOpens) {
  const struct {
    std::uint32_t access, share;
    bool readable;
  } kCases[] = {
      {kAccessRead, kShareRead, true},  // the split's hold on its source
      {kAccessRead, kShareRead | kShareWrite, true},
      {kAccessRead, kShareNone, false},
      {kAccessWrite, kShareRead, false},
      {kAccessRead | kAccessWrite, kShareRead | kShareWrite, false},
  };
  TempDir dir;
  const std::wstring path = dir.Path(L"held");
  WriteFileBytes(path, "abc");
  Platform& platform = DefaultPlatform();
  for (const auto& c : kCases) {
    FileHandle held = platform.CreateFile(path.c_str(), c.access, c.share,
                                          Disposition::kOpenExisting, Attribute::kNormal);
    ASSERT_NE(held, InvalidHandle());
    EXPECT_EQ(FingerprintText(path), c.readable ? kAbcText : kZeroFingerprintText)
        << "access " << c.access << " share " << c.share;
    platform.CloseHandle(held);
    EXPECT_EQ(FingerprintText(path), kAbcText) << "after the other open closed";
  }
}

TEST(GetFileFingerprint, ReportsEveryByteAsProgress) {
  TempDir dir;
  const std::uint64_t kSize = (9u << 20) + 5;
  const std::wstring path = dir.Path(L"big");
  WriteFileBytes(path, testing::PatternBytes(kSize, 1));

  std::vector<std::uint64_t> reports;
  ByteProgress progress;
  progress.context = &reports;
  progress.on_bytes = [](void* context, std::uint64_t bytes) -> bool {
    static_cast<std::vector<std::uint64_t>*>(context)->push_back(bytes);
    return true;
  };
  FingerprintText(path, &progress);

  std::uint64_t total = 0;
  for (std::uint64_t bytes : reports) {
    EXPECT_GT(bytes, 0u);
    EXPECT_LE(bytes, 8u << 20) << "reports come every few MiB";
    total += bytes;
  }
  EXPECT_EQ(total, kSize);
  EXPECT_GE(reports.size(), 2u);

  // Without a callback the work is the same.
  ByteProgress silent;
  EXPECT_EQ(FingerprintText(path, &silent), FingerprintText(path));
}

TEST(DigestFile, LeavesTheDigestUntouchedWhenTheFileDoesNotOpen) {
  TempDir dir;
  const std::wstring missing = dir.Path(L"missing");
  unsigned char digest[kMd5DigestSize];
  std::memset(digest, 0xAB, sizeof digest);
  EXPECT_EQ(DigestFile(DefaultPlatform(), missing.c_str(), digest), kDigestFileNotOpened);
  for (unsigned char byte : digest) EXPECT_EQ(byte, 0xAB);
}

#if !defined(_WIN32)
// A path whose UTF-8 form, terminator included, has `size` bytes, naming a
// file that holds "abc" under nested folders inside `dir`.
std::wstring MakeFileWithPathSize(const TempDir& dir, std::size_t size) {
  std::wstring path = dir.path();
  while (size - path.size() > 256) {
    path += L"/" + std::wstring(200, L'd');
    std::filesystem::create_directory(testing::FsPath(path));
  }
  path += L"/" + std::wstring(size - 1 - path.size() - 1, L'f');
  WriteFileBytes(path, "abc");
  return path;
}

// The narrow path buffer holds 1024 bytes: a longer name must open nothing,
// rather than a truncated name that might be another file.
TEST(GetFileFingerprint, OpensNothingForANameBeyondTheNarrowBuffer) {
  TempDir dir;
  const std::wstring fits = MakeFileWithPathSize(dir, 1024);
  ASSERT_EQ(WideToUtf8(fits).size() + 1, 1024u);
  EXPECT_EQ(FingerprintText(fits), kAbcText);

  TempDir other;
  const std::wstring too_long = MakeFileWithPathSize(other, 1025);
  ASSERT_TRUE(testing::FileExists(too_long));
  EXPECT_EQ(FingerprintText(too_long), kZeroFingerprintText);
  EXPECT_EQ(DefaultPlatform().GetLastError(), kErrorFilenameExcedRange);
}
#endif

// Fails read N of the fingerprint for every N up to the one that finds the
// end: the digest is that of the bytes before the failed read, the failure's
// error stands, the file is closed, and the text-only form still succeeds.
TEST(DigestFile, DigestsTheBytesBeforeAReadErrorAndCloses) {
  constexpr std::uint32_t kInjected = 0x2A2Au;
  TempDir dir;
  const std::wstring path = dir.Path(L"file");
  const std::string content = testing::PatternBytes(2 * kFingerprintReadSize + 5000, 9);
  WriteFileBytes(path, content);
  for (int n = 1; n <= 4; ++n) {
    testing::FaultPlatform platform(DefaultPlatform());
    platform.FailOp(testing::Op::kReadFile, n, false, kInjected);
    unsigned char digest[kMd5DigestSize] = {};
    EXPECT_EQ(DigestFile(platform, path.c_str(), digest), kDigestFileReadError) << "read " << n;
    EXPECT_EQ(platform.GetLastError(), kInjected) << "read " << n;
    EXPECT_EQ(platform.open_handles(), 0) << "read " << n;
    wchar_t text[kFingerprintTextCapacity];
    FormatFingerprintText(digest, text);
    const std::string before = content.substr(0, std::size_t{kFingerprintReadSize} * (n - 1));
    EXPECT_EQ(std::wstring(text), FingerprintOf(before)) << "read " << n;

    testing::FaultPlatform again(DefaultPlatform());
    again.FailOp(testing::Op::kReadFile, n, false, kInjected);
    wchar_t fingerprint[kFingerprintTextCapacity];
    EXPECT_TRUE(GetFileFingerprint(again, path.c_str(), fingerprint));
    EXPECT_STREQ(fingerprint, text);
  }
}

// An open file is fingerprinted from wherever its position stands, and stays
// open at its end; every byte digested is reported as progress.
TEST(FingerprintOpenFile, DigestsFromThePositionToTheEnd) {
  TempDir dir;
  const std::wstring path = dir.Path(L"held");
  const std::string content = testing::PatternBytes(kFingerprintReadSize + 3000, 4);
  WriteFileBytes(path, content);
  Platform& platform = DefaultPlatform();
  for (std::uint32_t skipped : {0u, 1u, 3000u, kFingerprintReadSize + 3000}) {
    FileHandle file = platform.CreateFile(path.c_str(), kAccessRead, kShareRead,
                                          Disposition::kOpenExisting, Attribute::kNormal);
    ASSERT_NE(file, InvalidHandle());
    std::string head(skipped + 1, '\0');
    std::uint32_t got = 0;
    ASSERT_TRUE(platform.ReadFile(file, &head[0], skipped, &got));
    ASSERT_EQ(got, skipped);

    std::uint64_t reported = 0;
    ByteProgress progress;
    progress.context = &reported;
    progress.on_bytes = [](void* context, std::uint64_t bytes) -> bool {
      *static_cast<std::uint64_t*>(context) += bytes;
      return true;
    };
    wchar_t text[kFingerprintTextCapacity];
    EXPECT_TRUE(FingerprintOpenFile(platform, file, text, &progress)) << skipped;
    EXPECT_EQ(std::wstring(text), FingerprintOf(content.substr(skipped))) << skipped;
    EXPECT_EQ(reported, content.size() - skipped);
    char more = 0;
    EXPECT_TRUE(platform.ReadFile(file, &more, 1, &got));
    EXPECT_EQ(got, 0u) << "left at the end, and open";
    EXPECT_TRUE(platform.CloseHandle(file));
  }
}

// While the fingerprint reads, its own open keeps writers out.
TEST(GetFileFingerprint, KeepsWritersOutWhileItReads) {
  // Tries to open the file for writing, with full sharing, at the first read.
  class WriterProbe : public testing::FaultPlatform {
   public:
    explicit WriterProbe(const std::wstring& path) : FaultPlatform(DefaultPlatform()), path_(path) {}
    bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                  std::uint32_t* bytes_read) override {
      if (!probed_) {
        probed_ = true;
        FileHandle writer = DefaultPlatform().CreateFile(
            path_.c_str(), kAccessWrite, kShareRead | kShareWrite, Disposition::kOpenExisting,
            Attribute::kNormal);
        writer_error_ = DefaultPlatform().GetLastError();
        writer_refused_ = writer == InvalidHandle();
        if (!writer_refused_) DefaultPlatform().CloseHandle(writer);
      }
      return FaultPlatform::ReadFile(file, buffer, size, bytes_read);
    }
    bool probed_ = false;
    bool writer_refused_ = false;
    std::uint32_t writer_error_ = 0;

   private:
    std::wstring path_;
  };
  TempDir dir;
  const std::wstring path = dir.Path(L"read");
  WriteFileBytes(path, "abc");
  WriterProbe platform(path);
  wchar_t text[kFingerprintTextCapacity];
  EXPECT_TRUE(FingerprintWholeFile(platform, path.c_str(), text));
  EXPECT_STREQ(text, kAbcText);
  ASSERT_TRUE(platform.probed_);
  EXPECT_TRUE(platform.writer_refused_);
  EXPECT_EQ(platform.writer_error_, kErrorSharingViolation);
}

}  // namespace
}  // namespace tarvelin
