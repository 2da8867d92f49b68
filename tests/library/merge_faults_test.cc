// SPDX-License-Identifier: MIT
// Every way a merge can fail, injected through the fault wrapper. Whatever
// fails, the original bytes stay on disk: the rebuilt file's prefix followed
// by the pieces not yet deleted, or the rebuilt file alone; and no piece is
// deleted before its bytes are durable in the rebuilt file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/operations.h"
#include "platform/platform_errors.h"
#include "tests/library/library_test_util.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint32_t kInjected = 0x2A2Au;
constexpr int kPieces = 5;
const std::uint64_t kSize = 5 * kMiB - 3;

// A split 5-piece source, ready to merge.
struct Prepared {
  Workspace ws;
  std::string original;
  std::vector<std::string> pieces;
  Prepared() {
    original = ws.MakeSource(kSize, 11);
    EXPECT_EQ(RC_OK, SplitWith(nullptr, ws.source(), 1));
    for (int n = 0; n < kPieces; ++n) pieces.push_back(ReadFileBytes(ws.piece(n)));
  }
  // The original bytes can be rebuilt from what is on disk.
  ::testing::AssertionResult BytesSurvive() const {
    int first = 0;
    while (first < kPieces && !FileExists(ws.piece(first))) ++first;
    for (int n = first; n < kPieces; ++n) {
      if (!FileExists(ws.piece(n))) return ::testing::AssertionFailure() << "piece " << n << " gone";
    }
    std::string rest;
    for (int n = first; n < kPieces; ++n) rest += ReadFileBytes(ws.piece(n));
    if (!FileExists(ws.source())) {
      if (first == 0 && rest == original) return ::testing::AssertionSuccess();
      return ::testing::AssertionFailure() << "no rebuilt file and pieces from " << first;
    }
    const std::string rebuilt = ReadFileBytes(ws.source());
    if (rebuilt == original) return ::testing::AssertionSuccess();
    const std::size_t prefix = first * kMiB;
    if (rebuilt.size() >= prefix && rebuilt.substr(0, prefix) + rest == original) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "rebuilt " << rebuilt.size() << " bytes, pieces from "
                                         << first;
  }
};

std::vector<Call> RecordCleanMerge() {
  Prepared p;
  FaultPlatform recorder(DefaultPlatform());
  EXPECT_EQ(RC_OK, MergeWith(&recorder, p.ws.source()));
  return WithoutFolder(recorder.calls(), p.ws.dir().path());
}

// Each deletion of a piece must follow a flush of the rebuilt file made after
// the last write to it, and the folder flush that makes the rebuilt file's
// entry durable; the manifest must be the last thing deleted.
::testing::AssertionResult DurableBeforeDestructive(const std::vector<Call>& calls,
                                                    const std::wstring& rebuilt,
                                                    const std::wstring& manifest) {
  bool dirty = false;
  bool folder_flushed = false;
  bool manifest_deleted = false;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Call& call = calls[i];
    if (call.failed) continue;
    if (call.op == Op::kWriteFile && call.path == rebuilt) dirty = true;
    if (call.op == Op::kFlushFileBuffers && call.path == rebuilt) dirty = false;
    if (call.op == Op::kFlushFolderOf && call.path == rebuilt) folder_flushed = true;
    if (call.op != Op::kDeleteFile) continue;
    if (manifest_deleted) return ::testing::AssertionFailure() << "deletion after the manifest";
    if (call.path == manifest) manifest_deleted = true;
    if (dirty || !folder_flushed) {
      return ::testing::AssertionFailure() << "call " << i + 1 << " deletes before a flush";
    }
  }
  return ::testing::AssertionSuccess();
}

struct FaultCase {
  const char* label;
  Op op;
  std::wstring file;
  int occurrence;
  ResultCode expected;
  int pieces_deleted;
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.label; }

class MergeFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(MergeFaults, ReportTheFailureAndKeepTheBytes) {
  const FaultCase& c = GetParam();
  const std::uint64_t n = CallNumber(RecordCleanMerge(), c.op, InFolder(c.file), c.occurrence);
  ASSERT_NE(0u, n);
  Prepared p;

  FaultPlatform faults(DefaultPlatform());
  faults.FailCall(n, false, kInjected);
  EXPECT_EQ(c.expected, MergeWith(&faults, p.ws.source()));
  EXPECT_EQ(0, faults.open_handles());
  EXPECT_TRUE(p.BytesSurvive());
  int deleted = 0;
  while (deleted < kPieces && !FileExists(p.ws.piece(deleted))) ++deleted;
  EXPECT_EQ(c.pieces_deleted, deleted);
  EXPECT_EQ(c.expected != RC_OK, FileExists(p.ws.manifest()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, MergeFaults,
    ::testing::Values(
        FaultCase{"RebuiltFileCannotBeCreated", Op::kCreateFile, L"disk.wim", 1, RC_FILE_OPEN, 0},
        FaultCase{"FolderFlushFails", Op::kFlushFolderOf, L"disk.wim", 1, RC_FILE_WRITE, 0},
        FaultCase{"PieceCannotBeOpened", Op::kCreateFile, L"disk.2", 1, RC_FILE_OPEN, 2},
        // Held, and fingerprinted through that handle.
        FaultCase{"PieceCannotBeFingerprinted", Op::kReadFile, L"disk.2", 1, RC_FILE_READ, 2},
        FaultCase{"PieceCannotBeMeasured", Op::kGetFileInformation, L"disk.2", 1, RC_FILE_READ,
                  2},
        // The second chunk that the join reads, after the piece's fingerprint.
        FaultCase{"ReadingAPieceFails", Op::kReadFile, L"disk.2", FingerprintReads(kMiB) + 2,
                  RC_FILE_READ, 2},
        FaultCase{"WritingFails", Op::kWriteFile, L"disk.wim", 4, RC_FILE_WRITE, 1},
        FaultCase{"FlushBeforeDeletingFails", Op::kFlushFileBuffers, L"disk.wim", 3,
                  RC_FILE_WRITE, 2},
        FaultCase{"PieceCannotBeDeleted", Op::kDeleteAndClose, L"disk.3", 1, RC_FILE_DELETE, 3},
        FaultCase{"PieceCannotBeOpenedToDelete", Op::kCreateFile, L"disk.3", 2, RC_FILE_DELETE,
                  3},
        // Each piece is read back once appended, before it may go.
        FaultCase{"AppendedPieceCannotBeReadBack", Op::kReadFile, L"disk.wim", 1, RC_FILE_READ,
                  0},
        FaultCase{"LastAppendedPieceCannotBeReadBack", Op::kReadFile, L"disk.wim",
                  4 * FingerprintReads(kMiB) + 1,
                  RC_FILE_READ, 4},
        FaultCase{"ManifestCannotBeDeleted", Op::kDeleteAndClose, L"disk.DAT", 1, RC_FILE_DELETE,
                  5},
        // Nothing is created before the record is read.
        FaultCase{"ManifestCannotBeOpened", Op::kCreateFile, L"disk.DAT", 1, RC_FILE_OPEN, 0},
        FaultCase{"ManifestCannotBeRead", Op::kReadFile, L"disk.DAT", 1, RC_FILE_READ, 0}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.label); });

TEST(MergeFaults, ShortOrZeroByteWriteStopsWithoutDeletingThePiece) {
  for (std::uint32_t reported : {0u, 4096u}) {
    Prepared p;
    FaultPlatform faults(DefaultPlatform());
    faults.ShortWrite(3, reported);
    EXPECT_EQ(RC_FILE_WRITE, MergeWith(&faults, p.ws.source()));
    EXPECT_EQ(0, faults.open_handles());
    EXPECT_TRUE(FileExists(p.ws.piece(1)));
    EXPECT_TRUE(p.BytesSurvive());
  }
}

TEST(MergeFaults, ManifestLeftAfterSuccessIsRecognisedOnRetry) {
  Prepared p;
  FaultPlatform faults(DefaultPlatform());
  faults.FailOp(Op::kDeleteAndClose, kPieces + 1, false, kInjected);
  EXPECT_EQ(RC_FILE_DELETE, MergeWith(&faults, p.ws.source()));
  EXPECT_EQ(kInjected, faults.GetLastError());
  EXPECT_EQ(RC_OK, MergeWith(nullptr, p.ws.source()));
  EXPECT_EQ(p.original, ReadFileBytes(p.ws.source()));
  EXPECT_FALSE(FileExists(p.ws.manifest()));
}

// Fail platform call N of a clean 5-piece merge, once and from then on.
TEST(MergeFaults, SweepFailingEveryCall) {
  const std::size_t total = RecordCleanMerge().size();
  ASSERT_GT(total, 30u);
  for (bool persistent : {false, true}) {
    for (std::uint64_t n = 1; n <= total; ++n) {
      SCOPED_TRACE(::testing::Message() << "call " << n << (persistent ? " onwards" : " once"));
      Prepared p;
      FaultPlatform faults(DefaultPlatform());
      faults.FailCall(n, persistent, kErrorWriteFault);
      const ResultCode result = MergeWith(&faults, p.ws.source());
      EXPECT_EQ(0, faults.open_handles());
      EXPECT_TRUE(p.BytesSurvive());
      EXPECT_TRUE(DurableBeforeDestructive(faults.calls(), p.ws.source(), p.ws.manifest()));
      if (result == RC_OK) {
        EXPECT_EQ(p.original, ReadFileBytes(p.ws.source()));
        EXPECT_FALSE(FileExists(p.ws.manifest()));
      } else {
        EXPECT_TRUE(FileExists(p.ws.manifest()));
      }
    }
  }
}

}  // namespace
}  // namespace tarvelin::testing
