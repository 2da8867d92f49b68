// SPDX-License-Identifier: MIT
// The same merge again after one that stopped: from every state that an
// interrupted merge leaves, it rebuilds the original, appending each byte
// once; a file at the path that is not a merge's work is left untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "library/operations.h"
#include "platform/utf8.h"
#include "tests/library/library_test_util.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tarvelin::testing {
namespace {

const std::uint64_t M = kMiB;
constexpr int kPieces = 4;  // 3 MiB + 17 bytes in 1 MiB pieces of two chunks

enum class Rerun {
  kRebuilds,
  kLeavesAlone,  // not a merge's work: RC_DIGEST_MISMATCH
  kInTheWay,     // no file a merge may write into: RC_FILE_OPEN
};

struct Interrupted {
  const char* label;
  std::uint64_t file_bytes;  // the original's first bytes at the path
  int gone;                  // pieces 0..gone-1 deleted
  Rerun rerun;
  std::uint64_t kept;  // of the file's bytes, those that the rerun keeps
  // Changes the state further: other bytes, a piece taken away.
  std::function<void(const Workspace&)> alter = nullptr;
};
void PrintTo(const Interrupted& c, std::ostream* os) { *os << c.label; }

std::uint64_t BytesWrittenTo(const FaultPlatform& platform, const std::wstring& path) {
  std::uint64_t bytes = 0;
  for (std::size_t i : platform.IndexesOf(Op::kWriteFile, path)) bytes += platform.calls()[i].size;
  return bytes;
}

std::vector<bool> PiecesPresent(const Workspace& ws) {
  std::vector<bool> present;
  for (int n = 0; n < kPieces; ++n) present.push_back(FileExists(ws.piece(n)));
  return present;
}

class RerunAfterInterruption : public ::testing::TestWithParam<Interrupted> {};

TEST_P(RerunAfterInterruption, RebuildsTheOriginalOrLeavesAForeignFileAlone) {
  const Interrupted& c = GetParam();
  Workspace ws;
  const std::string original = ws.MakeSource(3 * M + 17, 6);
  ASSERT_EQ(RC_OK, SplitWith(nullptr, ws.source(), 1));
  LeaveInterruptedMerge(ws, original, c.file_bytes, c.gone);
  if (c.alter) c.alter(ws);
  if (::testing::Test::IsSkipped()) return;
  const std::string before = ReadFileBytes(ws.source());
  const std::vector<bool> pieces_before = PiecesPresent(ws);

  FaultPlatform platform(DefaultPlatform());
  FailureReport report;
  OperationOptions options;
  options.platform = &platform;
  options.failure = &report;
  const ResultCode result = tarvelin::Merge(ws.source().c_str(), options);
  EXPECT_EQ(0, platform.open_handles());
  if (c.rerun != Rerun::kRebuilds) {
    EXPECT_EQ(c.rerun == Rerun::kInTheWay ? RC_FILE_OPEN : RC_DIGEST_MISMATCH, result);
    EXPECT_EQ(c.rerun == Rerun::kLeavesAlone, report.not_resumable);
    EXPECT_TRUE(before == ReadFileBytes(ws.source())) << "the file at the path changed";
    EXPECT_EQ(pieces_before, PiecesPresent(ws));
    EXPECT_TRUE(FileExists(ws.manifest()));
    return;
  }
  EXPECT_EQ(RC_OK, result);
  EXPECT_TRUE(original == ReadFileBytes(ws.source())) << "not the original";
  EXPECT_TRUE(ws.PieceSizes().empty());
  EXPECT_FALSE(FileExists(ws.manifest()));
  // What the file held whole was kept, and only the rest was appended.
  EXPECT_EQ(original.size() - c.kept, BytesWrittenTo(platform, ws.source()));
}

void FlipAByte(const std::wstring& path, std::uint64_t at) {
  std::string bytes = ReadFileBytes(path);
  bytes[at] ^= 0x20;
  WriteFileBytes(path, bytes);
}

const std::uint64_t kWhole = 3 * M + 17;

INSTANTIATE_TEST_SUITE_P(
    Table, RerunAfterInterruption,
    ::testing::Values(
        Interrupted{"EmptyFile", 0, 0, Rerun::kRebuilds, 0},
        Interrupted{"PartOfTheFirstPiece", 1000, 0, Rerun::kRebuilds, 0},
        Interrupted{"OneWholePiece", M, 1, Rerun::kRebuilds, M},
        Interrupted{"TwoWholePieces", 2 * M, 2, Rerun::kRebuilds, 2 * M},
        Interrupted{"TwoPiecesAndPartOfTheNext", 2 * M + 1000, 2, Rerun::kRebuilds, 2 * M},
        // A tail of a whole chunk is a piece's start too, not a piece.
        Interrupted{"TwoPiecesAndAChunkOfTheNext", 2 * M + M / 2, 2, Rerun::kRebuilds, 2 * M},
        Interrupted{"JoinedPieceStillOnDisk", 2 * M, 1, Rerun::kRebuilds, 2 * M},
        Interrupted{"JoinedPieceOnDiskAndPartOfTheNext", 2 * M + 5, 1, Rerun::kRebuilds, 2 * M},
        Interrupted{"WholeWithLastPieceOnDisk", kWhole, 3, Rerun::kRebuilds, kWhole},
        Interrupted{"WholeWithManifestAndEveryPieceLeft", kWhole, 0, Rerun::kRebuilds, kWhole},
        Interrupted{"WholeWithOnlyTheManifestLeft", kWhole, kPieces, Rerun::kRebuilds, kWhole},
        Interrupted{"UnrelatedFile", 0, 0, Rerun::kLeavesAlone, 0,
                    [](const Workspace& ws) {
                      WriteFileBytes(ws.source(), PatternBytes(M + 300, 99));
                    }},
        Interrupted{"JoinedPieceChangedSince", 2 * M, 2, Rerun::kLeavesAlone, 0,
                    [](const Workspace& ws) { FlipAByte(ws.source(), M + 7); }},
        Interrupted{"TailThatIsNotTheNextPiece", 2 * M + 1000, 2, Rerun::kLeavesAlone, 0,
                    [](const Workspace& ws) { FlipAByte(ws.source(), 2 * M + 999); }},
        Interrupted{"TailWithoutItsPiece", 2 * M + 1000, 2, Rerun::kLeavesAlone, 0,
                    [](const Workspace& ws) {
                      std::filesystem::remove(FsPath(ws.piece(2)));
                    }},
        Interrupted{"BytesAfterTheLastPiece", kWhole, kPieces, Rerun::kLeavesAlone, 0,
                    [](const Workspace& ws) {
                      WriteFileBytes(ws.source(), ReadFileBytes(ws.source()) + "x");
                    }},
        // A split stopped while it cut piece 3: the source whole, piece 3
        // begun and unrecorded. Its bytes are the whole's, so it goes too.
        Interrupted{"SplitStoppedWhileCutting", kWhole, 0, Rerun::kRebuilds, kWhole,
                    [](const Workspace& ws) {
                      std::string manifest = ReadFileBytes(ws.manifest());
                      WriteFileBytes(ws.manifest(), manifest.erase(manifest.rfind("MD5_VALUE3")));
                      std::filesystem::resize_file(FsPath(ws.piece(3)), 500);
                    }}
#ifndef _WIN32
        ,
        Interrupted{"FileWithASecondName", M, 1, Rerun::kInTheWay, 0,
                    [](const Workspace& ws) {
                      const std::string path = WideToUtf8(ws.source());
                      ASSERT_EQ(0, link(path.c_str(), (path + ".second").c_str()));
                    }},
        Interrupted{"LinkToTheFile", M, 1, Rerun::kInTheWay, 0,
                    [](const Workspace& ws) {
                      const std::string path = WideToUtf8(ws.source());
                      ASSERT_EQ(0, rename(path.c_str(), (path + ".real").c_str()));
                      ASSERT_EQ(0, symlink((path + ".real").c_str(), path.c_str()));
                    }},
        Interrupted{"EmptyFileOfAnotherUser", 0, 0, Rerun::kInTheWay, 0,
                    [](const Workspace& ws) {
                      if (geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
                      ASSERT_EQ(0, chown(WideToUtf8(ws.source()).c_str(), 65534, 65534));
                    }}
#endif
        ),
    [](const ::testing::TestParamInfo<Interrupted>& info) {
      return std::string(info.param.label);
    });

// A missing piece stops the merge; once it is back, the same call finishes.
TEST(Resume, MissingPieceThatComesBack) {
  Workspace ws;
  const std::string original = ws.MakeSource(3 * M + 17, 7);
  ASSERT_EQ(RC_OK, SplitWith(nullptr, ws.source(), 1));
  const std::wstring aside = ws.dir().Path(L"aside");
  std::filesystem::rename(FsPath(ws.piece(2)), FsPath(aside));
  EXPECT_EQ(RC_DIGEST_MISMATCH, MergeWith(nullptr, ws.source()));
  EXPECT_EQ(2 * M, FileSizeOf(ws.source()));
  std::filesystem::rename(FsPath(aside), FsPath(ws.piece(2)));
  EXPECT_EQ(RC_OK, MergeWith(nullptr, ws.source()));
  EXPECT_TRUE(original == ReadFileBytes(ws.source()));
  EXPECT_FALSE(FileExists(ws.manifest()));
}

// While a split runs, its source is whole beside the manifest being written;
// a merge of the same path must refuse it rather than take it for a finished
// merge and delete the split's pieces.
TEST(Resume, MergeDuringASplitTouchesNothing) {
  struct Attempts {
    std::wstring path;
    std::wstring manifest;
    int made = 0;
    int refused = 0;
    Phase phase = Phase::kVerifyWhole;
    std::int32_t piece = -2;
  } attempts;
  Workspace ws;
  const std::string original = ws.MakeSource(3 * M + 17, 8);
  attempts.path = ws.source();
  attempts.manifest = ws.manifest();
  OperationOptions options;
  options.progress_context = &attempts;
  options.progress = [](const ProgressEvent& event, void* context) -> bool {
    auto& a = *static_cast<Attempts*>(context);
    if (event.phase == a.phase && event.piece == a.piece) return true;
    a.phase = event.phase;
    a.piece = event.piece;
    ++a.made;
    FailureReport report;
    OperationOptions merge;
    merge.failure = &report;
    // Refused for the split's hold on its manifest, or, before the split
    // has made it, left alone as a file with nothing to merge.
    const bool manifest = FileExists(a.manifest);
    const ResultCode result = tarvelin::Merge(a.path.c_str(), merge);
    if ((result == RC_FILE_OPEN && report.sharing_conflict) || (result == RC_OK && !manifest)) {
      ++a.refused;
    }
    return true;
  };
  ASSERT_EQ(RC_OK, Split(ws.source().c_str(), PieceLimit(1), options));
  EXPECT_GT(attempts.made, 2 * kPieces);
  EXPECT_EQ(attempts.made, attempts.refused);
  EXPECT_EQ(kPieces, static_cast<int>(ws.PieceSizes().size()));
  EXPECT_EQ(RC_OK, MergeWith(nullptr, ws.source()));
  EXPECT_TRUE(original == ReadFileBytes(ws.source()));
}

}  // namespace
}  // namespace tarvelin::testing
