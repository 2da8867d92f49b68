// SPDX-License-Identifier: MIT
// QueryFileSize and CloseHandlesKeepError.
#include <gtest/gtest.h>

#include "library/file_helpers.h"
#include "platform/platform_errors.h"
#include "tests/support/fault_platform.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

TEST(QueryFileSize, ReportsSizesAndFailures) {
  TempDir dir;
  Platform& platform = DefaultPlatform();
  std::uint64_t size = 99;
  EXPECT_EQ(RC_INVALID_PATH, QueryFileSize(platform, L"", &size));
  EXPECT_EQ(0u, size);
  size = 99;
  EXPECT_EQ(RC_INVALID_PATH, QueryFileSize(platform, nullptr, &size));
  EXPECT_EQ(0u, size);
  size = 99;
  EXPECT_EQ(RC_FILE_OPEN, QueryFileSize(platform, dir.Path(L"absent").c_str(), &size));
  EXPECT_EQ(0u, size);

  WriteFileBytes(dir.Path(L"empty"), "");
  size = 99;
  EXPECT_EQ(RC_OK, QueryFileSize(platform, dir.Path(L"empty").c_str(), &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(RC_OK, QueryFileSize(platform, dir.Path(L"empty").c_str(), nullptr));

  const std::uint64_t big = (5ull << 32) + 0xFFFFFFFFull;  // low half all ones
  MakeSparseFile(dir.Path(L"big"), big);
  EXPECT_EQ(RC_OK, QueryFileSize(platform, dir.Path(L"big").c_str(), &size));
  EXPECT_EQ(big, size);
}

TEST(QueryFileSize, WorksBesideTheSplitsHoldOnItsSource) {
  TempDir dir;
  Platform& platform = DefaultPlatform();
  WriteFileBytes(dir.Path(L"src"), "12345");
  FileHandle held = platform.CreateFile(dir.Path(L"src").c_str(), kAccessRead, kShareRead,
                                        Disposition::kOpenExisting, Attribute::kReadOnly);
  ASSERT_NE(InvalidHandle(), held);
  std::uint64_t size = 0;
  EXPECT_EQ(RC_OK, QueryFileSize(platform, dir.Path(L"src").c_str(), &size));
  EXPECT_EQ(5u, size);
  platform.CloseHandle(held);
}

TEST(QueryFileSize, FailedSizeQueryIsReported) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"f"), "abc");
  FaultPlatform faults(DefaultPlatform());
  faults.FailOp(Op::kGetFileSize, 1, false, kErrorReadFault);
  std::uint64_t size = 99;
  EXPECT_EQ(RC_FILE_SIZE, QueryFileSize(faults, dir.Path(L"f").c_str(), &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(0, faults.open_handles());
}

TEST(CloseHandlesKeepError, KeepsThePendingErrorWhateverTheClosesSay) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"a"), "a");
  struct Case {
    std::uint32_t pending;
    bool close_fails;
    std::uint32_t expected;
  } cases[] = {
      {0, false, 0},
      {kErrorDiskFull, false, kErrorDiskFull},
      {kErrorDiskFull, true, kErrorDiskFull},
      {0, true, kErrorInvalidHandle},
  };
  for (const Case& c : cases) {
    FaultPlatform faults(DefaultPlatform());
    FileHandle handles[2];
    for (FileHandle& h : handles) {
      h = faults.CreateFile(dir.Path(L"a").c_str(), kAccessRead, kShareRead | kShareWrite,
                            Disposition::kOpenExisting, Attribute::kNormal);
      ASSERT_NE(InvalidHandle(), h);
    }
    if (c.close_fails) faults.FailOp(Op::kCloseHandle, 1, false, kErrorInvalidHandle);
    faults.SetLastError(c.pending);
    CloseHandlesKeepError(faults, handles[0], nullptr, handles[1]);
    EXPECT_EQ(c.expected, faults.GetLastError());
    EXPECT_EQ(0, faults.open_handles());
  }
  FaultPlatform faults(DefaultPlatform());
  faults.SetLastError(kErrorAccessDenied);
  CloseHandlesKeepError(faults, nullptr, nullptr, nullptr);
  EXPECT_EQ(kErrorAccessDenied, faults.GetLastError());
  EXPECT_EQ(0u, faults.call_count());
}

}  // namespace
}  // namespace tarvelin::testing
