// SPDX-License-Identifier: MIT
// File size limits: the host runs with RLIMIT_FSIZE and SIGXFSZ ignored, so
// a write past the limit fails with EFBIG as on a file system whose files
// cannot grow that far. Every failure must be reported with a clear code and
// leave the original bytes recoverable (invariant R); a merge needs files
// only as large as the original.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/operations.h"
#include "library/result_codes.h"
#include "platform/utf8.h"
#include "tests/reliability/invariant_r.h"
#include "tests/reliability_process/folder_state.h"
#include "tests/reliability_process/host_process.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t kPiece = 1 << 20;

struct Limit {
  const char* name;
  std::uint64_t source_size;
  int piece_mib;
  std::uint64_t max_file_size;
  const char* expected;
};

class FileSizeLimit : public ::testing::Test {
 protected:
  void Prepare(std::uint64_t source_size) {
    EmptyFolder(dir_.path());
    original_ = PatternBytes(source_size, 11);
    source_ = dir_.Path(L"disk.wim");
    invariant_ = std::make_unique<InvariantR>(source_, dir_.Path(L"disk"), original_);
  }
  ::testing::AssertionResult HoldsR() const { return invariant_->Holds(DiskFiles()); }

  TempDir dir_;
  std::string original_;
  std::wstring source_;
  std::unique_ptr<InvariantR> invariant_;
};

TEST_F(FileSizeLimit, SplitPastTheLimitSaysSoAndKeepsTheSource) {
  const Limit rows[] = {
      {"a piece cannot grow past half its size", 8 * kPiece, 1, kPiece / 2, "RC_FILE_WRITE"},
      {"a piece can grow to its size", 8 * kPiece, 1, kPiece, "RC_OK"},
      {"the manifest cannot take the source's entry", 100, -1, 60, "RC_MANIFEST_WRITE"},
      {"the manifest cannot take piece 0's entry", 100, -1, 120, "RC_MANIFEST_WRITE"},
  };
  for (const Limit& row : rows) {
    SCOPED_TRACE(row.name);
    Prepare(row.source_size);
    WriteFileBytes(source_, original_);
    const HostOutcome outcome =
        RunHost({"split", WideToUtf8(source_), std::to_string(row.piece_mib)}, row.max_file_size);
    EXPECT_EQ(row.expected, outcome.result);
    if (outcome.result != "RC_OK") {
      EXPECT_EQ(original_, ReadFileBytes(source_));
    }
    EXPECT_TRUE(HoldsR());
  }
}

TEST_F(FileSizeLimit, MergeNeedsFilesAsLargeAsTheOriginalAndFailsCleanlyBelow) {
  const Limit rows[] = {
      {"the rebuilt file can grow to the original's size", 8 * kPiece, 1, 8 * kPiece, "RC_OK"},
      {"one byte short of the original's size", 8 * kPiece, 1, 8 * kPiece - 1, "RC_FILE_WRITE"},
      {"room for one piece and a half", 8 * kPiece, 1, 3 * kPiece / 2, "RC_FILE_WRITE"},
  };
  for (const Limit& row : rows) {
    SCOPED_TRACE(row.name);
    Prepare(row.source_size);
    WriteFileBytes(source_, original_);
    ASSERT_EQ(RC_OK, Split(source_.c_str(), PieceLimit(row.piece_mib)));
    const HostOutcome outcome = RunHost({"merge", WideToUtf8(source_)}, row.max_file_size);
    EXPECT_EQ(row.expected, outcome.result);
    EXPECT_TRUE(HoldsR());
    if (outcome.result == "RC_OK") {
      EXPECT_EQ(original_, ReadFileBytes(source_));
    } else {
      // Without the limit a rerun goes on from the part-built file beside
      // the manifest and finishes.
      EXPECT_EQ("RC_OK", RunHost({"merge", WideToUtf8(source_)}).result);
      EXPECT_EQ(original_, ReadFileBytes(source_));
      EXPECT_FALSE(FileExists(dir_.Path(L"disk.DAT")));
    }
  }
}

}  // namespace
}  // namespace tarvelin::testing
