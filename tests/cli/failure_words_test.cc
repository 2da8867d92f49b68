// SPDX-License-Identifier: MIT
// The words of a failure: for every platform call of a split and of a merge
// that can fail, failing it gives a message that says what went wrong and,
// where a call was refused, names the file and passes on the system's reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/failure_words.h"
#include "cli/messages.h"
#include "library/operations.h"
#include "library/outcome.h"
#include "library/split_set.h"
#include "platform/platform_errors.h"
#include "platform/utf8.h"
#include "tests/library/library_test_util.h"

namespace tarvelin::testing {
namespace {

std::string Utf8Of(const std::wstring& path) { return WideToUtf8(path); }

// The split or the merge of a 1 MiB + 1 byte source in 1 MiB pieces with the
// `n`th platform call refused; returns its code, its report and the words.
struct Failed {
  ResultCode code = RC_OK;
  FailureReport report;
  tarvelin_outcome outcome;  // as a host receives it
  std::string words;
  Call call;  // the refused call
  bool ran_out = false;  // the operation made fewer than n calls
};

Failed RunWithCallRefused(bool merge, std::uint64_t n) {
  Workspace ws;
  ws.MakeSource(kMiB + 1, 6);
  if (merge && Split(ws.source().c_str(), PieceLimit(1)) != RC_OK) return Failed{};
  FaultPlatform faults(DefaultPlatform());
  faults.FailCall(n, false, kErrorAccessDenied);
  Failed failed;
  OperationOptions options;
  options.platform = &faults;
  options.failure = &failed.report;
  failed.code = merge ? Merge(ws.source().c_str(), options) : Split(ws.source().c_str(), PieceLimit(1), options);
  failed.ran_out = faults.calls().size() < n;
  if (!failed.ran_out) failed.call = faults.calls()[n - 1];
  if (failed.code != RC_OK) {
    failed.outcome = MakeOutcome(DefaultPlatform(), failed.code, failed.report, OperationFacts(),
                                 nullptr);
    failed.words = cli::DescribeFailure(failed.outcome, Utf8Of(ws.source()));
  }
  return failed;
}

std::string Base(const std::wstring& path) {
  const std::string shown = Utf8Of(path);
  return shown.substr(shown.rfind('/') + 1);
}

class FailureWords : public ::testing::TestWithParam<bool> {};

// Every failure is told by the operation itself: the report names a step,
// and the words name the file and pass on the system's reason.
TEST_P(FailureWords, EveryRefusedCallIsToldWithItsFileAndReason) {
  const bool merge = GetParam();
  int failures = 0;
  for (std::uint64_t n = 1;; ++n) {
    const Failed failed = RunWithCallRefused(merge, n);
    if (failed.ran_out) break;
    ASSERT_LT(n, 2000u) << "the sweep does not end";
    if (failed.code == RC_OK) continue;  // a refusal that the operation tolerates
    ++failures;
    const std::string where = std::string(PlatformCallName(failed.call.op)) + " #" + std::to_string(n) +
                              " (" + ResultCodeName(failed.code) + "): " + failed.words;
    EXPECT_TRUE(failed.report.failed()) << where;
    EXPECT_NE("it failed", failed.words) << where;
    // The outcome carries the report: the code, a step, the file by its
    // role and name, and the system's error with its words.
    EXPECT_EQ(failed.code, failed.outcome.code) << where;
    EXPECT_NE(TARVELIN_STEP_NONE, failed.outcome.step) << where;
    EXPECT_EQ(Utf8Of(failed.report.file), failed.outcome.file) << where;
    EXPECT_EQ(failed.report.system_error, failed.outcome.system_error) << where;
    EXPECT_EQ(failed.report.piece, failed.outcome.piece) << where;
    EXPECT_EQ(failed.report.system_error != 0, failed.outcome.system_message[0] != '\0') << where;
    if (failed.report.role == FileRole::kPiece) {
      EXPECT_EQ(TARVELIN_ROLE_PIECE, failed.outcome.role) << where;
    }
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

// The steps that a pieces' folder on a medium of its own brings, in words.
TEST(FailureWords, MediumStepsAreToldPlainly) {
  struct Row {
    int step;
    int role;
    const char* file;
    cli::Request request;
    const char* words;  // a part of them
  };
  const cli::Request stick{"/media/stick", 4096, false, false};
  const Row rows[] = {
      {TARVELIN_STEP_TOO_LARGE_FOR_MEDIUM, TARVELIN_ROLE_PIECE, "/media/stick/disk.0", stick,
       "pieces of 4096 MiB would not fit on /media/stick, a FAT file system, which holds files "
       "of 4 GiB - 1 byte at most; choose -s 4095M or less"},
      {TARVELIN_STEP_NAME_NOT_ALLOWED, TARVELIN_ROLE_PIECE, "/media/stick/disk:1.0", stick,
       "FAT refuses the character ':' in disk:1.0; rename the file"},
      {TARVELIN_STEP_READ_BACK, TARVELIN_ROLE_PIECE, "/media/stick/disk.3", stick,
       "the medium gave back other bytes for piece /media/stick/disk.3 than were written to it: "
       "it may be failing"},
      {TARVELIN_STEP_READ_BACK, TARVELIN_ROLE_MANIFEST, "/media/stick/disk.DAT", stick,
       "other bytes for the manifest /media/stick/disk.DAT than were written to it"},
      {TARVELIN_STEP_NOT_FOUND, TARVELIN_ROLE_NONE, "/x", stick,
       "the pieces' folder /x does not exist"},
      {TARVELIN_STEP_NO_SPACE, TARVELIN_ROLE_REBUILT, "disk.img", {"/m", 0, true, false},
       "not enough free space: with the pieces kept, the whole file needs 0 bytes"},
  };
  for (const Row& row : rows) {
    tarvelin_outcome outcome = {};
    outcome.step = row.step;
    outcome.role = row.role;
    outcome.file_kind = TARVELIN_KIND_NONE;
    std::snprintf(outcome.file, sizeof outcome.file, "%s", row.file);
    const std::string words = cli::DescribeFailure(outcome, "/data/disk.img", row.request);
    EXPECT_NE(std::string::npos, words.find(row.words)) << words;
  }
}

TEST(FailureWords, CodeSuffixNamesTheCodeAndItsValue) {
  EXPECT_EQ(" (RC_DIGEST_MISMATCH, 0xE0F00013)", cli::CodeSuffix(RC_DIGEST_MISMATCH));
}

}  // namespace
}  // namespace tarvelin::testing
