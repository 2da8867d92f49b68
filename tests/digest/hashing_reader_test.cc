// SPDX-License-Identifier: MIT
// Hashing beside the reads changes nothing that can be seen: the digests, the
// reads a platform is asked for, and what a failed read leaves, with the
// second thread and without it, across the stretches that go to the thread.
#include "digest/hashing_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "digest/fingerprint.h"
#include "library/operations.h"
#include "platform/platform_wrapper.h"
#include "tests/support/fault_platform.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

using testing::FaultPlatform;
using testing::TempDir;

// Reads that return no more than `cap` bytes, as a pipe or a network file may.
class ShortReads : public PlatformWrapper {
 public:
  ShortReads(Platform* target, std::uint32_t cap) : PlatformWrapper(target), cap_(cap) {}
  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override {
    return target().ReadFile(file, buffer, std::min(size, cap_), bytes_read);
  }

 private:
  std::uint32_t cap_;
};

std::wstring TextOf(const unsigned char digest[kMd5DigestSize]) {
  wchar_t text[kFingerprintTextCapacity];
  FormatFingerprintText(digest, text);
  return text;
}

// The sizes of the reads that `platform` was asked for.
std::vector<std::uint32_t> ReadSizes(const FaultPlatform& platform) {
  std::vector<std::uint32_t> sizes;
  for (const testing::Call& call : platform.calls()) {
    if (call.op == testing::Op::kReadFile) sizes.push_back(call.size);
  }
  return sizes;
}

TEST(ReadAndHash, GivesTheSameDigestAndReadsWithAndWithoutTheSecondThread) {
  constexpr std::uint64_t kRound = std::uint64_t{kHashStretches} * kHashStretch;
  TempDir dir;
  for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{kHashStretch} - 1,
                             std::uint64_t{kHashStretch}, std::uint64_t{kHashStretch} + 1,
                             kRound, kRound + 1, 3 * kRound + 12345}) {
    const std::string bytes = testing::PatternBytes(size, static_cast<std::uint32_t>(size) + 7);
    const std::wstring path = dir.Path(L"file" + std::to_wstring(size));
    testing::WriteFileBytes(path, bytes);
    for (std::uint32_t cap : {kFingerprintReadSize, 40000u}) {
      std::vector<std::uint32_t> reads[2];
      for (int threads = 0; threads < 2; ++threads) {
        FaultPlatform counted(DefaultPlatform());
        if (threads == 0) counted.RefuseBackgroundThreads();
        ShortReads platform(&counted, cap);
        unsigned char digest[kMd5DigestSize] = {};
        ASSERT_EQ(DigestFile(platform, path.c_str(), digest), kDigestFileComplete);
        EXPECT_EQ(TextOf(digest), testing::FingerprintOf(bytes))
            << size << " bytes, reads of " << cap << (threads ? ", two threads" : ", one");
        reads[threads] = ReadSizes(counted);
      }
      EXPECT_EQ(reads[0], reads[1]) << size << " bytes, reads of " << cap;
    }
  }
}

// Fails read N for every N up to the one that finds the end of a file that
// fills the stretches twice over, and then none: the digest is that of the bytes before the
// failed read, and its error stands.
TEST(ReadAndHash, DigestsTheBytesBeforeEachFailedRead) {
  constexpr std::uint32_t kInjected = 0x5151u;
  TempDir dir;
  const std::wstring path = dir.Path(L"file");
  const std::string content =
      testing::PatternBytes(2 * std::uint64_t{kHashStretches} * kHashStretch + 5000, 3);
  testing::WriteFileBytes(path, content);
  const int reads = static_cast<int>(content.size() / kFingerprintReadSize) + 2;
  for (int n = 1; n <= reads + 1; ++n) {
    FaultPlatform platform(DefaultPlatform());
    platform.FailOp(testing::Op::kReadFile, n, false, kInjected);
    unsigned char digest[kMd5DigestSize] = {};
    const int result = DigestFile(platform, path.c_str(), digest);
    const std::size_t before = std::min<std::size_t>(
        content.size(), std::size_t{kFingerprintReadSize} * static_cast<std::size_t>(n - 1));
    EXPECT_EQ(TextOf(digest), testing::FingerprintOf(content.substr(0, before))) << "read " << n;
    if (n <= reads) {
      EXPECT_EQ(result, kDigestFileReadError) << "read " << n;
      EXPECT_EQ(platform.GetLastError(), kInjected) << "read " << n;
    } else {
      EXPECT_EQ(result, kDigestFileComplete) << "no read failed";
    }
  }
}

// An operation that fingerprints many files asks for one hashing thread: a
// split into 1 MiB pieces fingerprints the source and each piece on it.
TEST(ReadAndHash, OneOperationStartsOneHashingThread) {
  TempDir dir;
  const std::wstring path = dir.Path(L"disk.img");
  const std::string content = testing::PatternBytes(3 * 1048576 + 100, 5);
  testing::WriteFileBytes(path, content);
  FaultPlatform platform(DefaultPlatform());
  OperationOptions options;
  options.platform = &platform;
  ASSERT_EQ(Split(path.c_str(), PieceLimit(1), options), RC_OK);
  EXPECT_EQ(platform.threads_asked(), 1);
  ASSERT_EQ(Merge(path.c_str(), options), RC_OK);
  EXPECT_EQ(platform.threads_asked(), 2);
  EXPECT_EQ(testing::ReadFileBytes(path), content);
}

}  // namespace
}  // namespace tarvelin
