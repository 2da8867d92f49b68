// SPDX-License-Identifier: MIT
// Messages past 4 GiB, where the byte count carries into its high word and the
// bit length needs more than 32 bits. The expected digest of 2^32 + 1000 zero
// bytes was computed independently of this code.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "digest/fingerprint.h"
#include "digest/md5.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

constexpr std::uint64_t kSize = (std::uint64_t{1} << 32) + 1000;
const wchar_t kZerosText[] = L"C3 58 5F 1F 6D 53 B9 08 33 00 0E B5 63 ED 8E 9A";

TEST(Md5Slow, DigestsZerosPast4GiB) {
  const std::vector<unsigned char> zeros(1 << 20, 0);
  Md5Context context;
  Md5Init(&context);
  std::uint64_t fed = 0;
  while (fed + zeros.size() <= kSize) {
    Md5Update(&context, zeros.data(), static_cast<std::int32_t>(zeros.size()));
    fed += zeros.size();
  }
  Md5Update(&context, zeros.data(), static_cast<std::int32_t>(kSize - fed));
  EXPECT_EQ(context.count_high, 1u);
  EXPECT_EQ(context.count_low, 1000u);

  unsigned char digest[kMd5DigestSize];
  Md5Final(&context, digest);
  wchar_t text[kFingerprintTextCapacity];
  FormatFingerprintText(digest, text);
  EXPECT_STREQ(text, kZerosText);
}

TEST(FingerprintSlow, DigestsASparseFilePast4GiB) {
  testing::TempDir dir;
  const std::wstring path = dir.Path(L"sparse");
  testing::MakeSparseFile(path, kSize);
  ASSERT_EQ(testing::FileSizeOf(path), kSize);
  wchar_t text[kFingerprintTextCapacity] = {};
  EXPECT_TRUE(GetFileFingerprint(DefaultPlatform(), path.c_str(), text));
  EXPECT_STREQ(text, kZerosText);
}

}  // namespace
}  // namespace tarvelin
