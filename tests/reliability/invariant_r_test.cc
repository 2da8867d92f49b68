// SPDX-License-Identifier: MIT
// The checker of invariant R over states built by hand: each state that a
// split or a merge may leave, and each way such a state can lose bytes.
#include "tests/reliability/invariant_r.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr std::size_t kPieceSize = 100;
constexpr int kPieces = 5;
const std::wstring kPath = L"/x/disk.wim";
const std::wstring kBase = L"/x/disk";

const std::string& Original() {
  static const std::string bytes = PatternBytes(kPieces * kPieceSize - 3, 7);
  return bytes;
}
std::string Piece(int n) { return Original().substr(n * kPieceSize, kPieceSize); }
std::wstring PieceName(int n) { return kBase + L"." + std::to_wstring(n); }

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string ManifestText(const std::string& source_bytes, int garbled_piece = -1) {
  std::string text = "[SrcImageMD5]\r\nMD5_VALUE=" + Narrow(FingerprintOf(source_bytes)) + "\r\n";
  text += "[SplitImageMD5]\r\n";
  for (int n = 0; n < kPieces; ++n) {
    const std::string piece = n == garbled_piece ? Piece(n) + "x" : Piece(n);
    text += "MD5_VALUE" + std::to_string(n) + "=" + Narrow(FingerprintOf(piece)) + "\r\n";
  }
  return text;
}

// The state a split leaves once the source is deleted: pieces and manifest.
MemoryFiles Split() {
  MemoryFiles files;
  for (int n = 0; n < kPieces; ++n) files.files()[PieceName(n)] = Piece(n);
  files.files()[kBase + L".DAT"] = ManifestText(Original());
  return files;
}

// A merge that has deleted pieces 0..merged-1 and appended `extra` bytes of
// the next one.
MemoryFiles Merging(int merged, std::size_t extra) {
  MemoryFiles files = Split();
  for (int n = 0; n < merged; ++n) files.files().erase(PieceName(n));
  files.files()[kPath] = Original().substr(0, merged * kPieceSize + extra);
  return files;
}

struct Case {
  const char* label;
  std::function<MemoryFiles()> state;
  bool holds;
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class InvariantRStates : public ::testing::TestWithParam<Case> {};

TEST_P(InvariantRStates, AreJudged) {
  const Case& c = GetParam();
  const ::testing::AssertionResult result =
      InvariantR(kPath, kBase, Original()).Holds(c.state());
  EXPECT_EQ(c.holds, static_cast<bool>(result)) << result.message();
}

INSTANTIATE_TEST_SUITE_P(
    Table, InvariantRStates,
    ::testing::Values(
        Case{"SourceAlone", [] { return MemoryFiles({{kPath, Original()}}); }, true},
        Case{"SourceBesideAPartialSplit",
             [] {
               MemoryFiles files({{kPath, Original()}, {PieceName(0), "junk"}});
               files.files()[kBase + L".DAT"] = "[SrcImageMD5]\r\n";
               return files;
             },
             true},
        Case{"SourceShortByAByte",
             [] { return MemoryFiles({{kPath, Original().substr(1)}}); }, false},
        Case{"NothingAtAll", [] { return MemoryFiles(); }, false},
        Case{"FinishedSplit", [] { return Split(); }, true},
        Case{"FinishedSplitBesideAStalePiece",
             [] {
               MemoryFiles files = Split();
               files.files()[PieceName(kPieces)] = "left by a longer split";
               return files;
             },
             true},
        Case{"PiecesWithoutManifest",
             [] {
               MemoryFiles files = Split();
               files.files().erase(kBase + L".DAT");
               return files;
             },
             false},
        Case{"ManifestWithAWrongPieceFingerprint",
             [] {
               MemoryFiles files = Split();
               files.files()[kBase + L".DAT"] = ManifestText(Original(), 2);
               return files;
             },
             false},
        Case{"ManifestWithAWrongSourceFingerprint",
             [] {
               MemoryFiles files = Split();
               files.files()[kBase + L".DAT"] = ManifestText(Original() + "x");
               return files;
             },
             false},
        Case{"ManifestCutBeforeTheLastPiece",
             [] {
               MemoryFiles files = Split();
               std::string& text = files.files()[kBase + L".DAT"];
               text = text.substr(0, text.find("MD5_VALUE4"));
               return files;
             },
             false},
        Case{"PieceGarbled",
             [] {
               MemoryFiles files = Split();
               files.files()[PieceName(3)][10] ^= 1;
               return files;
             },
             false},
        Case{"LastPieceLost",
             [] {
               MemoryFiles files = Split();
               files.files().erase(PieceName(kPieces - 1));
               return files;
             },
             false},
        Case{"EmptyRebuiltFileBesideEveryPiece", [] { return Merging(0, 0); }, true},
        Case{"TwoPiecesMerged", [] { return Merging(2, 0); }, true},
        Case{"TwoPiecesMergedAndPartOfTheThird", [] { return Merging(2, 37); }, true},
        Case{"TwoPiecesMergedAndGarbageAfter",
             [] {
               MemoryFiles files = Merging(2, 0);
               files.files()[kPath] += "garbage past the durable bytes";
               return files;
             },
             true},
        Case{"PieceDeletedBeforeItsBytesReachedTheFile",
             [] {
               MemoryFiles files = Merging(3, 0);
               files.files()[kPath].resize(3 * kPieceSize - 1);
               return files;
             },
             false},
        Case{"RebuiltFileGarbledInTheDeletedPieces",
             [] {
               MemoryFiles files = Merging(2, 0);
               files.files()[kPath][5] ^= 1;
               return files;
             },
             false},
        Case{"GapInThePiecesLeft",
             [] {
               MemoryFiles files = Merging(2, 0);
               files.files().erase(PieceName(3));
               return files;
             },
             false},
        Case{"EveryPieceMergedAndTheManifestLeft",
             [] { return Merging(kPieces, 0); }, true},
        Case{"EveryPieceMergedButTheFileShort",
             [] {
               MemoryFiles files = Merging(kPieces, 0);
               files.files()[kPath].pop_back();
               return files;
             },
             false},
        Case{"EveryPieceMergedButTheFileLonger",
             [] {
               MemoryFiles files = Merging(kPieces, 0);
               files.files()[kPath] += "x";
               return files;
             },
             false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.label); });

// The same judgement over real files.
TEST(InvariantROnDisk, FollowsTheFiles) {
  TempDir dir;
  const std::wstring path = dir.Path(L"disk.wim");
  const std::wstring base = dir.Path(L"disk");
  WriteFileBytes(path, Original());
  EXPECT_TRUE(HoldsR(path, base, Original()));
  WriteFileBytes(path, Original().substr(0, kPieceSize));
  EXPECT_FALSE(HoldsR(path, base, Original()));
  for (int n = 2; n < kPieces; ++n) WriteFileBytes(base + L"." + std::to_wstring(n), Piece(n));
  EXPECT_FALSE(HoldsR(path, base, Original()));  // piece 1's bytes are nowhere
  WriteFileBytes(base + L".1", Piece(1));
  EXPECT_TRUE(HoldsR(path, base, Original()));
  WriteFileBytes(base + L".DAT", ManifestText(Original(), 3));
  EXPECT_FALSE(HoldsR(path, base, Original()));  // the manifest contradicts piece 3
}

}  // namespace
}  // namespace tarvelin::testing
