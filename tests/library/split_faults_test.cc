// SPDX-License-Identifier: MIT
// Every way a split can fail, injected through the fault wrapper: the result,
// the last-error value, the handles and the files left. Whatever fails, the
// source stays byte for byte until the split has made its pieces durable.
#include <gtest/gtest.h>

#include <string>

#include "library/operations.h"
#include "platform/platform_errors.h"
#include "tests/library/library_test_util.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint32_t kInjected = 0x2A2Au;
// The source of the table's cases: four pieces of 1 MiB at most.
const std::uint64_t kTableSourceSize = 3 * kMiB + 100;

std::wstring ManifestValue(const std::wstring& manifest, const wchar_t* section,
                           const std::wstring& key) {
  wchar_t value[100] = {};
  DefaultPlatform().GetPrivateProfileString(section, key.c_str(), L"", value, 100,
                                            manifest.c_str());
  return value;
}

// A clean 5-piece split, recorded, to aim faults at its calls.
std::vector<Call> RecordCleanSplit(std::uint64_t size) {
  Workspace ws;
  ws.MakeSource(size);
  FaultPlatform recorder(DefaultPlatform());
  EXPECT_EQ(RC_OK, SplitWith(&recorder, ws.source(), 1));
  return WithoutFolder(recorder.calls(), ws.dir().path());
}

struct FaultCase {
  const char* label;
  Op op;
  std::wstring file;  // the file inside the workspace that the call concerns
  int occurrence;
  ResultCode expected;
  int pieces_left;         // piece files on disk afterwards
  int pieces_recorded;     // piece keys in the manifest afterwards
  bool source_fingerprint;  // the manifest holds the source's fingerprint
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.label; }

class SplitFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SplitFaults, KeepTheSourceAndReportTheFailingCall) {
  const FaultCase& c = GetParam();
  const std::uint64_t size = kTableSourceSize;
  const std::vector<Call> clean = RecordCleanSplit(size);
  const std::uint64_t n = CallNumber(clean, c.op, InFolder(c.file), c.occurrence);
  ASSERT_NE(0u, n) << PlatformCallName(c.op) << " on "
                   << std::string(c.file.begin(), c.file.end());

  Workspace ws;
  const std::string original = ws.MakeSource(size);
  FaultPlatform faults(DefaultPlatform());
  faults.FailCall(n, false, kInjected);
  EXPECT_EQ(c.expected, SplitWith(&faults, ws.source(), 1));
  EXPECT_EQ(kInjected, faults.GetLastError());
  EXPECT_EQ(0, faults.open_handles());
  EXPECT_EQ(original, ReadFileBytes(ws.source()));
  EXPECT_EQ(static_cast<std::size_t>(c.pieces_left), ws.PieceSizes().size());
  int recorded = 0;
  while (!ManifestValue(ws.manifest(), L"SplitImageMD5", L"MD5_VALUE" + std::to_wstring(recorded))
              .empty()) {
    ++recorded;
  }
  EXPECT_EQ(c.pieces_recorded, recorded);
  EXPECT_EQ(c.source_fingerprint,
            ManifestValue(ws.manifest(), L"SrcImageMD5", L"MD5_VALUE") == FingerprintOf(original));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitFaults,
    ::testing::Values(
        FaultCase{"SourceCannotBeOpened", Op::kCreateFile, L"disk.wim", 1, RC_FILE_OPEN, 0, 0,
                  false},
        FaultCase{"SourceFingerprintCannotBeWritten", Op::kWriteFile, L"disk.DAT", 1,
                  RC_MANIFEST_WRITE, 0, 0, false},
        // Looked at first, for what an earlier split may have left there.
        FaultCase{"PieceNameCannotBeLookedAt", Op::kCreateFile, L"disk.0", 1, RC_FILE_OPEN, 0, 0,
                  false},
        FaultCase{"PieceZeroCannotBeCreated", Op::kCreateFile, L"disk.0", 2, RC_FILE_OPEN, 0, 0,
                  true},
        FaultCase{"PieceTwoCannotBeCreated", Op::kCreateFile, L"disk.2", 1, RC_FILE_OPEN, 2, 2,
                  true},
        // The fourth chunk that the cut reads, after the source's fingerprint.
        FaultCase{"ReadFails", Op::kReadFile, L"disk.wim", FingerprintReads(kTableSourceSize) + 4,
                  RC_FILE_READ, 2, 1, true},
        FaultCase{"WriteFails", Op::kWriteFile, L"disk.1", 1, RC_FILE_WRITE, 2, 1, true},
        FaultCase{"PieceFingerprintCannotBeWritten", Op::kWriteFile, L"disk.DAT", 3,
                  RC_MANIFEST_WRITE, 2, 1, true},
        FaultCase{"LastPieceFingerprintCannotBeWritten", Op::kWriteFile, L"disk.DAT", 5,
                  RC_MANIFEST_WRITE, 4, 3, true},
        // Read back through the split's handle before the source may go.
        FaultCase{"ManifestCannotBeReadBack", Op::kReadFile, L"disk.DAT", 1, RC_MANIFEST_WRITE, 4,
                  4, true},
        FaultCase{"PieceFlushFails", Op::kFlushFileBuffers, L"disk.1", 1, RC_FILE_WRITE, 4, 4,
                  true},
        FaultCase{"PieceCloseReportsAFailedWrite", Op::kCloseHandle, L"disk.1", 1,
                  RC_FILE_WRITE, 2, 1, true},
        // Created, looked at once closed, reopened for the flush, and looked
        // at again before the source goes.
        FaultCase{"PieceCannotBeLookedAtOnceClosed", Op::kCreateFile, L"disk.3", 2,
                  RC_FILE_WRITE, 4, 3, true},
        FaultCase{"PieceCannotBeReopenedToFlush", Op::kCreateFile, L"disk.3", 3, RC_FILE_WRITE,
                  4, 4, true},
        FaultCase{"PieceCannotBeConfirmedBeforeTheSourceGoes", Op::kCreateFile, L"disk.3", 4,
                  RC_FILE_WRITE, 4, 4, true},
        FaultCase{"ManifestFlushFails", Op::kFlushFileBuffers, L"disk.DAT", 1, RC_FILE_WRITE, 4,
                  4, true},
        FaultCase{"FolderFlushFails", Op::kFlushFolderOf, L"disk.DAT", 1, RC_FILE_WRITE, 4, 4,
                  true},
        // Written, then read back through the same handle for its fingerprint.
        FaultCase{"PieceCannotBeFingerprinted", Op::kReadFile, L"disk.1", 1, RC_FILE_READ,
                  2, 1, true},
        // Held, measured, then read through that handle for its fingerprint,
        // before the manifest is created.
        FaultCase{"SourceCannotBeFingerprinted", Op::kReadFile, L"disk.wim", 1,
                  RC_FILE_READ, 0, 0, false},
        // Held, then opened to be deleted once the set is durable.
        FaultCase{"SourceCannotBeOpenedToDelete", Op::kCreateFile, L"disk.wim", 2,
                  RC_FILE_DELETE, 4, 4, true},
        FaultCase{"SourceCannotBeDeleted", Op::kDeleteAndClose, L"disk.wim", 1, RC_FILE_DELETE, 4,
                  4, true}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.label); });

TEST(SplitFaults, WriteThatReportsZeroBytesKeepsTheSource) {
  for (std::uint32_t reported : {0u, 1000u}) {
    Workspace ws;
    const std::string original = ws.MakeSource(3 * kMiB);
    FaultPlatform faults(DefaultPlatform());
    faults.ShortWrite(3, reported);
    EXPECT_EQ(RC_FILE_WRITE, SplitWith(&faults, ws.source(), 1)) << reported;
    EXPECT_EQ(0, faults.open_handles());
    EXPECT_EQ(original, ReadFileBytes(ws.source()));
  }
}

TEST(SplitFaults, FailedMeasurementStopsAtTheFirstChunkAndKeepsTheSource) {
  Workspace ws;
  const std::string original = ws.MakeSource(2 * kMiB);
  FaultPlatform faults(DefaultPlatform());
  faults.FailOp(Op::kGetFileInformation, 1, false, kInjected);
  EXPECT_EQ(RC_FILE_READ, SplitWith(&faults, ws.source(), 1));
  EXPECT_EQ(0, faults.open_handles());
  EXPECT_EQ(original, ReadFileBytes(ws.source()));
}

// Fail platform call N of a clean 5-piece split, once and from then on.
// Either the source is intact, or the split succeeded and its pieces merge
// back into the source.
TEST(SplitFaults, SweepFailingEveryCall) {
  const std::uint64_t size = 5 * kMiB - 3;
  const std::size_t total = RecordCleanSplit(size).size();
  ASSERT_GT(total, 20u);
  int succeeded = 0;
  for (bool persistent : {false, true}) {
    for (std::uint64_t n = 1; n <= total; ++n) {
      SCOPED_TRACE(::testing::Message() << "call " << n << (persistent ? " onwards" : " once"));
      Workspace ws;
      const std::string original = ws.MakeSource(size);
      FaultPlatform faults(DefaultPlatform());
      faults.FailCall(n, persistent, kErrorWriteFault);
      const ResultCode result = SplitWith(&faults, ws.source(), 1);
      EXPECT_EQ(0, faults.open_handles());
      if (result != RC_OK) {
        ASSERT_TRUE(FileExists(ws.source()));
        EXPECT_EQ(original, ReadFileBytes(ws.source()));
        continue;
      }
      ++succeeded;
      EXPECT_FALSE(FileExists(ws.source()));
      EXPECT_EQ(original, ws.JoinedPieces());
      ASSERT_EQ(RC_OK, MergeWith(nullptr, ws.source()));
      EXPECT_EQ(original, ReadFileBytes(ws.source()));
    }
  }
  // Failures of calls whose outcome the split ignores still let it finish.
  EXPECT_GT(succeeded, 0);
}

}  // namespace
}  // namespace tarvelin::testing
