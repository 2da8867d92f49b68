// SPDX-License-Identifier: MIT
// A medium that gives back other bytes than it was given, at the platform:
// every read past the cache (kAccessUncached) of one file of the set comes
// back altered, while every other read of it is true. Whichever file that is,
// the split's read-back says which, and the source stays; the same split
// without the fault then finishes over what the failed one left.
#include <gtest/gtest.h>

#include <string>

#include "library/operations.h"
#include "tests/reliability/invariant_r.h"
#include "tests/support/fault_platform.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr int kPieces = 4;
constexpr std::uint64_t kSourceSize = kPieces * (1ull << 20);

TEST(ReadBackFault, OtherBytesFromTheMediumForAnyFileOfTheSetKeepTheSource) {
  const std::string original = PatternBytes(kSourceSize, 83);
  TempDir source_dir, folder;
  const std::wstring source = source_dir.Path(L"disk.img");
  const InvariantR invariant(source, folder.Path(L"disk"), original);
  // Pieces 0 to 3, and the manifest (-1).
  for (const std::int32_t piece : {0, 1, 2, 3, -1}) {
    const std::wstring altered =
        piece < 0 ? folder.Path(L"disk.DAT") : folder.Path(L"disk." + std::to_wstring(piece));
    SCOPED_TRACE(std::string("altered on the medium: piece ") + std::to_string(piece));
    WriteFileBytes(source, original);
    FaultPlatform platform(DefaultPlatform());
    platform.AlterUncachedReadsOf(altered);
    FailureReport report;
    OperationFacts facts;
    OperationOptions options;
    options.platform = &platform;
    options.failure = &report;
    options.facts = &facts;
    options.piece_folder = folder.path();
    options.flags = kReadBack;
    EXPECT_EQ(RC_FILE_WRITE, Split(source.c_str(), PieceLimit(1), options));
    EXPECT_GT(platform.altered_reads(), 0);
    EXPECT_EQ(FailedStep::kReadBack, report.step);
    EXPECT_EQ(piece < 0 ? FileRole::kManifest : FileRole::kPiece, report.role);
    EXPECT_EQ(piece, report.piece);
    EXPECT_EQ(altered, report.file);
    EXPECT_FALSE(facts.read_back);
    EXPECT_EQ(0, platform.open_handles());
    EXPECT_EQ(original, ReadFileBytes(source));
    EXPECT_TRUE(invariant.Holds(DiskFiles()));

    // The medium true again, the same split clears what the failed one left
    // (proved the source's by its bytes) and finishes.
    OperationOptions again;
    again.facts = &facts;
    again.piece_folder = folder.path();
    again.flags = kReadBack;
    EXPECT_EQ(RC_OK, Split(source.c_str(), PieceLimit(1), again));
    EXPECT_TRUE(facts.read_back);
    EXPECT_FALSE(FileExists(source));
    EXPECT_TRUE(invariant.Holds(DiskFiles()));
    EXPECT_EQ(RC_OK, Merge(source.c_str(), again));
    EXPECT_EQ(original, ReadFileBytes(source));
  }
}

}  // namespace
}  // namespace tarvelin::testing
