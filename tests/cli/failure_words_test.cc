// SPDX-License-Identifier: MIT
// The words of a failure: for every platform call of a split and of a merge
// that can fail, failing it gives a message that says what went wrong and,
// where a call was refused, names the file and passes on the system's reason.
#include <gtest/gtest.h>

#include <string>

#include "cli/call_trace.h"
#include "cli/failure_words.h"
#include "cli/messages.h"
#include "cli/operation_watch.h"
#include "library/operations.h"
#include "platform/platform_errors.h"
#include "tests/library/library_test_util.h"

namespace tarvelin::testing {
namespace {

using cli::CallTrace;
using cli::FileNames;
using cli::OperationWatch;
using cli::Outcome;
using cli::ProgressDisplay;

// The split or the merge of a 1 MiB + 1 byte source in 1 MiB pieces with the
// `n`th platform call refused; returns its code and the words for it.
struct Failed {
  ResultCode code = RC_OK;
  std::string words;
  Call call;  // the refused call
  bool ran_out = false;  // the operation made fewer than n calls
};

Failed RunWithCallRefused(bool merge, std::uint64_t n) {
  Workspace ws;
  ws.MakeSource(kMiB + 1, 6);
  if (merge && Split(ws.source().c_str(), 1) != RC_OK) return Failed{};
  FaultPlatform faults(DefaultPlatform());
  faults.FailCall(n, false, kErrorAccessDenied);
  CallTrace trace(faults);
  ProgressDisplay display(false, stderr, 80);
  OperationWatch watch(display);
  OperationOptions options;
  options.platform = &trace;
  watch.Attach(&options);
  const FileNames names = cli::NamesOf(ws.source());
  Failed failed;
  failed.code = merge ? Merge(ws.source().c_str(), options) : Split(ws.source().c_str(), 1, options);
  failed.ran_out = faults.calls().size() < n;
  if (!failed.ran_out) failed.call = faults.calls()[n - 1];
  const Outcome outcome{&names, &trace, &watch, false};
  if (failed.code != RC_OK) {
    failed.words = merge ? cli::DescribeMergeFailure(failed.code, outcome)
                         : cli::DescribeSplitFailure(failed.code, outcome);
  }
  return failed;
}

std::string Base(const std::wstring& path) {
  const std::string shown = cli::Shown(path);
  return shown.substr(shown.rfind('/') + 1);
}

class FailureWords : public ::testing::TestWithParam<bool> {};

TEST_P(FailureWords, EveryRefusedCallIsToldWithItsFileAndReason) {
  const bool merge = GetParam();
  int failures = 0;
  for (std::uint64_t n = 1;; ++n) {
    const Failed failed = RunWithCallRefused(merge, n);
    if (failed.ran_out) break;
    ASSERT_LT(n, 2000u) << "the sweep does not end";
    if (failed.code == RC_OK) continue;  // a refusal that the operation tolerates
    ++failures;
    const std::string where = std::string(OpName(failed.call.op)) + " #" + std::to_string(n) +
                              " (" + ResultCodeName(failed.code) + "): " + failed.words;
    EXPECT_NE("the split failed", failed.words) << where;
    EXPECT_NE("the merge failed", failed.words) << where;
    EXPECT_EQ(std::string::npos, failed.words.find("a file could not be opened: ")) << where;
    EXPECT_EQ(std::string::npos, failed.words.find("a write failed")) << where;
    const bool names_its_file = failed.code == RC_FILE_OPEN || failed.code == RC_FILE_WRITE ||
                                failed.code == RC_FILE_DELETE || failed.code == RC_MANIFEST_WRITE;
    if (names_its_file) {
      EXPECT_NE(std::string::npos, failed.words.find("permission denied")) << where;
      const std::string base = Base(failed.call.path);
      const bool is_the_file_itself = failed.call.path.find(L".wim") != std::wstring::npos;
      if (!is_the_file_itself) {
        EXPECT_NE(std::string::npos, failed.words.find(base)) << where;
      }
    }
  }
  EXPECT_GT(failures, 10);
}

INSTANTIATE_TEST_SUITE_P(SplitAndMerge, FailureWords, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Merge" : "Split");
                         });

TEST(FailureWords, NoCodeOfEitherOperationIsLeftWithoutWords) {
  const FileNames names = cli::NamesOf(L"/nowhere/disk.img");
  CallTrace trace(DefaultPlatform());
  ProgressDisplay display(false, stderr, 80);
  OperationWatch watch(display);
  const Outcome outcome{&names, &trace, &watch, false};
  for (ResultCode code : {RC_INVALID_PATH, RC_SOURCE_NOT_FOUND, RC_FILE_OPEN, RC_FILE_READ,
                          RC_MANIFEST_WRITE, RC_FILE_WRITE, RC_FILE_DELETE}) {
    EXPECT_NE("the split failed", cli::DescribeSplitFailure(code, outcome)) << code;
  }
  for (ResultCode code : {RC_INVALID_PATH, RC_MANIFEST_NOT_FOUND, RC_FILE_OPEN, RC_DIGEST_MISMATCH,
                          RC_FILE_READ, RC_FILE_WRITE, RC_FILE_DELETE}) {
    EXPECT_NE("the merge failed", cli::DescribeMergeFailure(code, outcome)) << code;
  }
  EXPECT_EQ(" (RC_DIGEST_MISMATCH, 0xE0F00013)", cli::CodeSuffix(RC_DIGEST_MISMATCH));
}

}  // namespace
}  // namespace tarvelin::testing
