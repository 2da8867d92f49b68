// SPDX-License-Identifier: MIT
// A real full disk: splits and merges on a small tmpfs that runs out of
// space or of inodes part way. Every failure must be reported with a clear
// code, and the original bytes must stay recoverable (invariant R). A merge
// frees each piece once it is joined, so it needs only about one piece of
// room beyond what the pieces take; one that ran out goes on from where it
// stopped once there is room.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "library/operations.h"
#include "library/result_codes.h"
#include "tests/reliability/invariant_r.h"
#include "tests/reliability_process/folder_state.h"
#include "tests/reliability_process/tmpfs_mount.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t kPage = 4096;
constexpr std::uint64_t kPiece = 1 << 20;
constexpr int kPieceMiB = 1;
constexpr std::uint64_t kSourceSize = 8 * kPiece;
// What the root folder and the manifest take: a page each is plenty.
constexpr std::uint64_t kManifestRoom = kPage;

class FullDisk : public ::testing::Test {
 protected:
  FullDisk() : original_(PatternBytes(kSourceSize, 7)) {}

  // Mounts a tmpfs of `bytes` and `inodes`, or skips the test.
  bool Mount(std::uint64_t bytes, std::uint64_t inodes) {
    mount_ = std::make_unique<TmpfsMount>(bytes, inodes);
    if (!mount_->mounted()) return false;
    source_ = mount_->Path(L"disk.wim");
    base_ = mount_->Path(L"disk");
    invariant_ = std::make_unique<InvariantR>(source_, base_, original_);
    return true;
  }
  // The pieces and manifest of a clean split of the original, made outside
  // the small disk and copied in.
  void PutPieces() {
    TempDir outside;
    WriteFileBytes(outside.Path(L"disk.wim"), original_);
    ASSERT_EQ(RC_OK, Split(outside.Path(L"disk.wim").c_str(), PieceLimit(kPieceMiB)));
    CopyFolderFiles(outside.path(), Folder());
  }
  ::testing::AssertionResult HoldsR() const { return invariant_->Holds(DiskFiles()); }
  int PiecesLeft() const {
    int count = 0;
    for (int n = 0; n < 64; ++n) count += FileExists(base_ + L"." + std::to_wstring(n)) ? 1 : 0;
    return count;
  }
  std::wstring Folder() const { return source_.substr(0, source_.rfind(L'/')); }

  const std::string original_;
  std::unique_ptr<TmpfsMount> mount_;
  std::wstring source_;
  std::wstring base_;
  std::unique_ptr<InvariantR> invariant_;
};

#define MOUNT_OR_SKIP(bytes, inodes) \
  if (!Mount(bytes, inodes)) GTEST_SKIP() << mount_->refusal()

struct SplitRoom {
  const char* name;
  std::uint64_t room;  // free bytes beside the source
  ResultCode expected;
  int complete_pieces;  // at least this many pieces are whole
};

TEST_F(FullDisk, SplitThatRunsOutOfSpaceSaysSoAndKeepsTheSource) {
  const SplitRoom rows[] = {
      {"no room even for the manifest's entries", 0, RC_MANIFEST_WRITE, 0},
      {"room for the manifest only", kManifestRoom, RC_FILE_WRITE, 0},
      {"room for two and a half pieces", kManifestRoom + 5 * kPiece / 2, RC_FILE_WRITE, 2},
      {"room for every piece", kManifestRoom + kSourceSize, RC_OK, 8},
  };
  for (const SplitRoom& row : rows) {
    SCOPED_TRACE(row.name);
    MOUNT_OR_SKIP(kSourceSize + row.room, 64);
    WriteFileBytes(source_, original_);
    EXPECT_EQ(ResultCodeName(row.expected),
              std::string(ResultCodeName(Split(source_.c_str(), PieceLimit(kPieceMiB)))));
    if (row.expected != RC_OK) {
      EXPECT_EQ(original_, ReadFileBytes(source_));
    }
    EXPECT_GE(PiecesLeft(), row.complete_pieces);
    EXPECT_TRUE(HoldsR());
    mount_.reset();
  }
}

struct MergeRoom {
  const char* name;
  std::uint64_t room;  // free bytes beside the pieces and the manifest
  ResultCode expected;
};

TEST_F(FullDisk, MergeNeedsAboutOnePieceOfRoomAndFailsCleanlyWithLess) {
  const MergeRoom rows[] = {
      {"no room at all", 0, RC_FILE_WRITE},
      {"half a piece of room", kPiece / 2, RC_FILE_WRITE},
      {"a piece of room less a page", kPiece - kPage, RC_FILE_WRITE},
      {"a piece of room", kPiece, RC_OK},
  };
  for (const MergeRoom& row : rows) {
    SCOPED_TRACE(row.name);
    MOUNT_OR_SKIP(kSourceSize + kManifestRoom + row.room, 64);
    PutPieces();
    EXPECT_EQ(ResultCodeName(row.expected), std::string(ResultCodeName(Merge(source_.c_str()))));
    EXPECT_TRUE(HoldsR());
    if (row.expected == RC_OK) {
      EXPECT_EQ(original_, ReadFileBytes(source_));
      EXPECT_EQ(0, PiecesLeft());
    } else {
      // Stopped in the first piece, which stays with all the others, and cut
      // its bytes off again; a rerun with no more room stops there too.
      EXPECT_EQ(8, PiecesLeft());
      EXPECT_EQ(0u, FileSizeOf(source_));
      EXPECT_EQ(RC_FILE_WRITE, Merge(source_.c_str()));
      EXPECT_EQ(0u, FileSizeOf(source_));
      EXPECT_TRUE(HoldsR());
    }
    mount_.reset();
  }
}

// Another program fills the disk while piece 3 is appended; once it frees
// its file, the same merge again goes on from piece 3.
TEST_F(FullDisk, MergeThatRanOutOfRoomGoesOnOnceThereIsRoom) {
  MOUNT_OR_SKIP(kSourceSize + kManifestRoom + kPiece, 64);
  PutPieces();
  struct Filler {
    TmpfsMount* mount;
    std::wstring path;
  } filler{mount_.get(), mount_->Path(L"filler")};
  OperationOptions options;
  options.progress_context = &filler;
  options.progress = [](const ProgressEvent& event, void* context) -> bool {
    auto& f = *static_cast<Filler*>(context);
    if (event.phase != Phase::kJoinPiece || event.piece != 3 || FileExists(f.path)) return true;
    WriteFileBytes(f.path, std::string(f.mount->FreeBytes() - kPiece / 2, 'f'));
    return true;
  };
  EXPECT_EQ(RC_FILE_WRITE, Merge(source_.c_str(), options));
  EXPECT_EQ(3 * kPiece, FileSizeOf(source_)) << "not cut back to the pieces joined whole";
  EXPECT_EQ(5, PiecesLeft());
  EXPECT_TRUE(HoldsR());

  std::filesystem::remove(FsPath(filler.path));
  EXPECT_EQ(RC_OK, Merge(source_.c_str()));
  EXPECT_EQ(original_, ReadFileBytes(source_));
  EXPECT_EQ(0, PiecesLeft());
}

struct InodeLimit {
  const char* name;
  bool merge;
  std::uint64_t inodes;  // the root folder takes one
  ResultCode expected;
};

TEST_F(FullDisk, RunningOutOfInodesFailsCleanly) {
  const InodeLimit rows[] = {
      {"split: no inode for the manifest", false, 2, RC_MANIFEST_WRITE},
      {"split: no inode for piece 0", false, 3, RC_FILE_OPEN},
      {"split: no inode for piece 3", false, 6, RC_FILE_OPEN},
      {"merge: no inode for the rebuilt file", true, 10, RC_FILE_OPEN},
  };
  for (const InodeLimit& row : rows) {
    SCOPED_TRACE(row.name);
    MOUNT_OR_SKIP(2 * kSourceSize + 4 * kPage, row.inodes);
    if (row.merge) {
      PutPieces();
    } else {
      WriteFileBytes(source_, original_);
    }
    const FolderState before = StateOf(Folder());
    const ResultCode result =
        row.merge ? Merge(source_.c_str()) : Split(source_.c_str(), PieceLimit(kPieceMiB));
    EXPECT_EQ(ResultCodeName(row.expected), std::string(ResultCodeName(result)));
    EXPECT_TRUE(HoldsR());
    if (row.merge) {
      EXPECT_EQ(before, StateOf(Folder()));
    } else {
      EXPECT_EQ(original_, ReadFileBytes(source_));
    }
    mount_.reset();
  }
}

}  // namespace
}  // namespace tarvelin::testing
