// SPDX-License-Identifier: MIT
// A merge never truncates or writes into a file at its path that it did not
// create, not even when the check that looks for one fails and reports none:
// that file may hold the only copy, or belong to someone else.
#include <gtest/gtest.h>

#include <string>

#include "library/operations.h"
#include "platform/platform_errors.h"
#include "tests/library/library_test_util.h"
#include "tests/reliability/invariant_r.h"

namespace tarvelin::testing {
namespace {

struct Case {
  const char* label;
  bool whole;             // the file at the path is the original, else other bytes
  std::uint64_t size;     // of the file at the path when it is not the original
  ResultCode expected;
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class MissedFile : public ::testing::TestWithParam<Case> {};

TEST_P(MissedFile, IsNeverTruncated) {
  const Case& c = GetParam();
  Workspace ws;
  const std::string original = ws.MakeSource(3 * kMiB + 5, 4);
  ASSERT_EQ(RC_OK, SplitWith(nullptr, ws.source(), 1));
  const std::string there = c.whole ? original : PatternBytes(c.size, 8);
  WriteFileBytes(ws.source(), there);

  FaultPlatform faults(DefaultPlatform());
  faults.FailOp(Op::kPathFileExists, 1, false, kErrorAccessDenied);
  EXPECT_EQ(c.expected, MergeWith(&faults, ws.source()));
  const std::uint32_t error = faults.GetLastError();
  EXPECT_EQ(0, faults.open_handles());
  EXPECT_TRUE(HoldsR(ws.source(), ws.base(), original));
  if (c.expected == RC_OK) {
    EXPECT_TRUE(original == ReadFileBytes(ws.source()));
    return;
  }
  EXPECT_EQ(kErrorFileExists, error);
  EXPECT_TRUE(there == ReadFileBytes(ws.source())) << "the file at the path changed";
  EXPECT_EQ(4u, ws.PieceSizes().size());
  EXPECT_TRUE(FileExists(ws.manifest()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, MissedFile,
    ::testing::Values(Case{"FinishedMerge", true, 0, RC_FILE_OPEN},
                      Case{"OtherBytes", false, 1, RC_FILE_OPEN},
                      // Not even an empty one is taken: whoever made it could
                      // read what the merge would write into it.
                      Case{"EmptyFile", false, 0, RC_FILE_OPEN}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvelin::testing
