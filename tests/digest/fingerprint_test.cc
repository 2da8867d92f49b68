// SPDX-License-Identifier: MIT
#include "digest/fingerprint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
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

// Sizes around the 1024-byte read: a short last read, none, and several.
TEST(GetFileFingerprint, DigestsWholeFilesAcrossReadBoundaries) {
  TempDir dir;
  for (std::uint64_t size : {1u, 1023u, 1024u, 1025u, 2048u, 2049u, 70000u}) {
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
  progress.on_bytes = [](void* context, std::uint64_t bytes) {
    static_cast<std::vector<std::uint64_t>*>(context)->push_back(bytes);
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
  const std::string missing = testing::FsPath(dir.Path(L"missing")).string();
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
}
#endif

#if defined(__GLIBC__)
// A stream that yields its content in small runs and then fails, or ends.
struct ScriptedStream {
  std::string content;
  std::size_t fail_at;  // the read at this offset fails; past the end: none fails
  std::size_t position = 0;
  bool closed = false;
};

ssize_t ReadScripted(void* cookie, char* buffer, std::size_t size) {
  auto* stream = static_cast<ScriptedStream*>(cookie);
  if (stream->position >= stream->fail_at) {
    errno = EIO;
    return -1;
  }
  std::size_t count = std::min({size, std::size_t{700}, stream->content.size() - stream->position,
                                stream->fail_at - stream->position});
  std::memcpy(buffer, stream->content.data() + stream->position, count);
  stream->position += count;
  return static_cast<ssize_t>(count);
}

int CloseScripted(void* cookie) {
  static_cast<ScriptedStream*>(cookie)->closed = true;
  return 0;
}

// Hands out the scripted stream in place of the file.
class ScriptedPlatform : public testing::FaultPlatform {
 public:
  explicit ScriptedPlatform(ScriptedStream* stream)
      : FaultPlatform(DefaultPlatform()), stream_(stream) {}
  int OpenReadStream(const char*, std::FILE** stream) override {
    cookie_io_functions_t functions = {ReadScripted, nullptr, nullptr, CloseScripted};
    *stream = fopencookie(stream_, "rb", functions);
    return *stream != nullptr ? 0 : errno;
  }

 private:
  ScriptedStream* stream_;
};

TEST(DigestFile, DigestsTheBytesBeforeAReadErrorAndCloses) {
  const std::string content = testing::PatternBytes(5000, 9);
  const struct {
    std::size_t fail_at;
    int result;
  } kCases[] = {
      {0, kDigestFileReadError},      {1, kDigestFileReadError},
      {1024, kDigestFileReadError},   {3001, kDigestFileReadError},
      {5000, kDigestFileReadError},   {std::string::npos, kDigestFileComplete},
  };
  for (const auto& c : kCases) {
    ScriptedStream stream{content, c.fail_at};
    ScriptedPlatform platform(&stream);
    unsigned char digest[kMd5DigestSize] = {};
    EXPECT_EQ(DigestFile(platform, "scripted", digest), c.result) << "failing at " << c.fail_at;
    EXPECT_TRUE(stream.closed);

    wchar_t text[kFingerprintTextCapacity];
    FormatFingerprintText(digest, text);
    EXPECT_EQ(std::wstring(text), FingerprintOf(content.substr(0, c.fail_at)))
        << "failing at " << c.fail_at;

    // The fingerprint shows the same prefix digest and still succeeds.
    ScriptedStream again{content, c.fail_at};
    ScriptedPlatform again_platform(&again);
    wchar_t fingerprint[kFingerprintTextCapacity];
    EXPECT_TRUE(GetFileFingerprint(again_platform, L"scripted", fingerprint));
    EXPECT_STREQ(fingerprint, text);
  }
}
#endif

}  // namespace
}  // namespace tarvelin
