// SPDX-License-Identifier: MIT
// Pieces carried to another file system and back, through the library's
// functions: the source on a tmpfs, the pieces' folder on a loop-mounted
// ext4 image. A host killed at any moment of a split or a merge into or out
// of the folder, a folder that runs full, other files standing at the set's
// names, and a medium that gives back other bytes than it stored: the
// original is never lost, and nothing but the set's own files is touched.
//
// TARVELIN_CARRY_MOMENTS=N kills at N moments spread over each run (0: at
// every moment); the default is a handful.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/utf8.h"
#include "tarvelin/tarvelin.h"
#include "tests/reliability/invariant_r.h"
#include "tests/reliability_process/folder_state.h"
#include "tests/reliability_process/host_process.h"
#include "tests/reliability_process/loop_mount.h"
#include "tests/reliability_process/tmpfs_mount.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;
constexpr int kPieces = 6;
constexpr std::uint64_t kSourceSize = kPieces * kMiB;
constexpr int kDefaultMoments = 5;

// Moments 1..total, or `wanted` of them spread evenly from the first to the
// last.
std::vector<int> Moments(int total) {
  const char* given = std::getenv("TARVELIN_CARRY_MOMENTS");
  const int wanted = given != nullptr ? std::atoi(given) : kDefaultMoments;
  std::vector<int> moments;
  if (wanted <= 1 || wanted >= total) {
    for (int n = 1; n <= total; ++n) moments.push_back(n);
  } else {
    for (int k = 0; k < wanted; ++k) moments.push_back(1 + k * (total - 1) / (wanted - 1));
  }
  return moments;
}

bool IsPieceName(const std::string& name) {
  if (name.rfind("disk.", 0) != 0 || name.size() == 5) return false;
  return name.find_first_not_of("0123456789", 5) == std::string::npos;
}

class Carry : public ::testing::Test {
 protected:
  void SetUp() override {
    source_fs_ = std::make_unique<TmpfsMount>(4 * kSourceSize, 64);
    if (!source_fs_->mounted()) GTEST_SKIP() << source_fs_->refusal();
    pieces_fs_ = std::make_unique<Ext4LoopMount>(64 * kMiB);
    if (!pieces_fs_->mounted()) GTEST_SKIP() << pieces_fs_->refusal();
    source_ = source_fs_->Path(L"disk.img");
    source_folder_ = source_.substr(0, source_.rfind(L'/'));
    folder_ = pieces_fs_->Path(L"carry");
    std::filesystem::create_directory(FsPath(folder_));
    folder_utf8_ = WideToUtf8(folder_);
    invariant_ = std::make_unique<InvariantR>(source_, folder_ + L"/disk", original_);
    // Other files beside the source and in the folder, some at names that
    // the set has on the other side.
    for (const wchar_t* name : {L"disk.0", L"disk.DAT", L"notes.txt"}) {
      WriteFileBytes(source_fs_->Path(name), "a neighbour's file beside the source");
    }
    for (const wchar_t* name : {L"disk.img", L"disk.0.txt", L"disk.dat", L"notes.txt"}) {
      WriteFileBytes(folder_ + L"/" + name, "a neighbour's file in the folder");
    }
    neighbours_ = Neighbours();
  }

  // What stands beside the set's own files, on both sides.
  FolderState Neighbours() const {
    FolderState state;
    for (const auto& [name, facts] : StateOf(source_folder_)) {
      if (name != "disk.img") state["source side: " + name] = facts;
    }
    for (const auto& [name, facts] : StateOf(folder_)) {
      if (name != "disk.DAT" && !IsPieceName(name)) state["folder: " + name] = facts;
    }
    return state;
  }
  // The set's files in the folder.
  int SetFilesInFolder() const {
    int count = 0;
    for (const auto& [name, facts] : StateOf(folder_)) {
      count += name == "disk.DAT" || IsPieceName(name) ? 1 : 0;
    }
    return count;
  }
  void RemoveSet() {
    std::filesystem::remove(FsPath(source_));
    for (const auto& [name, facts] : StateOf(folder_)) {
      if (name == "disk.DAT" || IsPieceName(name)) std::filesystem::remove(FsPath(folder_) / name);
    }
  }
  void PutSource() {
    RemoveSet();
    WriteFileBytes(source_, original_);
  }
  // The set of a clean split, made once and copied into the folder.
  void PutPieces() {
    if (!pristine_) {
      pristine_ = std::make_unique<TempDir>();
      PutSource();
      tarvelin_options options = Options(TARVELIN_KEEP_SOURCE);
      ASSERT_EQ(RC_OK, tarvelin_split(Utf8(source_).c_str(), &options, nullptr));
      for (const auto& [name, facts] : StateOf(folder_)) {
        if (name == "disk.DAT" || IsPieceName(name)) {
          std::filesystem::copy_file(FsPath(folder_) / name, FsPath(pristine_->path()) / name);
        }
      }
    }
    RemoveSet();
    CopyFolderFiles(pristine_->path(), folder_);
  }

  static std::string Utf8(const std::wstring& path) { return WideToUtf8(path); }
  tarvelin_options Options(std::uint32_t flags = 0) const {
    tarvelin_options options{};
    options.size = sizeof options;
    options.flags = flags;
    options.piece_size = kMiB;
    options.piece_folder = folder_utf8_.c_str();
    return options;
  }
  static tarvelin_outcome Outcome() {
    tarvelin_outcome outcome{};
    outcome.size = sizeof outcome;
    return outcome;
  }
  std::vector<std::string> HostArgs(int die_before_change, const std::string& operation) const {
    std::vector<std::string> args = {"--folder", folder_utf8_};
    if (die_before_change > 0) {
      args.push_back("--die-before-change");
      args.push_back(std::to_string(die_before_change));
    }
    args.push_back(operation);
    args.push_back(Utf8(source_));
    if (operation == "split") args.push_back("1");
    return args;
  }

  // A merge from the folder rebuilds the original beside the neighbours and
  // takes every file of the set away.
  void ExpectMergedBack() {
    tarvelin_options options = Options();
    tarvelin_outcome outcome = Outcome();
    EXPECT_EQ(RC_OK, tarvelin_merge(Utf8(source_).c_str(), &options, &outcome))
        << tarvelin_code_name(outcome.code) << " step " << outcome.step << " " << outcome.file;
    EXPECT_TRUE(FileExists(source_) && original_ == ReadFileBytes(source_));
    EXPECT_EQ(0, SetFilesInFolder()) << Describe(StateOf(folder_));
    EXPECT_EQ(neighbours_, Neighbours()) << Describe(Neighbours());
  }

  const std::string original_ = PatternBytes(kSourceSize, 61);
  std::unique_ptr<TmpfsMount> source_fs_;
  std::unique_ptr<Ext4LoopMount> pieces_fs_;
  std::wstring source_, source_folder_, folder_;
  std::string folder_utf8_;
  std::unique_ptr<InvariantR> invariant_;
  FolderState neighbours_;
  std::unique_ptr<TempDir> pristine_;
};

// Every change that a split makes (creating the manifest and each piece,
// each write, the source's deletion after the read-back) is a moment to be
// killed before. The same split again finishes; a merge brings it back.
TEST_F(Carry, SplitIntoTheFolderKilledAtMomentNThenRunAgainThenMergedBack) {
  PutSource();
  const HostOutcome clean = RunHost(HostArgs(0, "split"));
  ASSERT_EQ("RC_OK", clean.result);
  ASSERT_FALSE(FileExists(source_));
  for (const int moment : Moments(clean.changes)) {
    SCOPED_TRACE("killed before change " + std::to_string(moment) + " of " +
                 std::to_string(clean.changes));
    PutSource();
    HostProcess host(HostArgs(moment, "split"));
    ASSERT_TRUE(host.Wait().killed);
    // Every moment comes before the deletion, the last change.
    EXPECT_TRUE(FileExists(source_) && original_ == ReadFileBytes(source_));
    EXPECT_EQ(neighbours_, Neighbours()) << Describe(Neighbours());

    tarvelin_options options = Options();
    tarvelin_outcome outcome = Outcome();
    EXPECT_EQ(RC_OK, tarvelin_split(Utf8(source_).c_str(), &options, &outcome))
        << tarvelin_code_name(outcome.code) << " step " << outcome.step << " " << outcome.file;
    EXPECT_EQ(1, outcome.read_back);
    EXPECT_EQ(kPieces, outcome.pieces);
    EXPECT_FALSE(FileExists(source_));
    EXPECT_TRUE(invariant_->Holds(DiskFiles()));
    ExpectMergedBack();
  }
}

// A merge out of the folder, killed before its Nth change (creating the
// file, each append, each piece's deletion, the manifest's), goes on when it
// is run again.
TEST_F(Carry, MergeFromTheFolderKilledAtMomentNThenRunAgain) {
  PutPieces();
  const HostOutcome clean = RunHost(HostArgs(0, "merge"));
  ASSERT_EQ("RC_OK", clean.result);
  ASSERT_EQ(original_, ReadFileBytes(source_));
  for (const int moment : Moments(clean.changes)) {
    SCOPED_TRACE("killed before change " + std::to_string(moment) + " of " +
                 std::to_string(clean.changes));
    PutPieces();
    HostProcess host(HostArgs(moment, "merge"));
    ASSERT_TRUE(host.Wait().killed);
    ASSERT_TRUE(invariant_->Holds(DiskFiles()));
    EXPECT_EQ(neighbours_, Neighbours()) << Describe(Neighbours());
    ExpectMergedBack();
  }
}

// The folder's file system has room for half the pieces. The split fails
// part way, or up front when asked to check; the source stays whole either
// way. Once room is made, the same call finishes.
TEST_F(Carry, AFullFolderFailsWithTheSourceKeptAndTheSameCallFinishesOnceThereIsRoom) {
  const struct {
    const char* name;
    std::uint32_t flags;
    ResultCode expected;
    bool writes;  // whether it wrote into the folder before it stopped
    // The room made for the same call again: all of it, or only what the
    // pieces left still need (the check counts them as room).
    bool all_room;
  } rows[] = {
      {"running out part way", 0, RC_FILE_WRITE, true, true},
      {"with the space check", TARVELIN_CHECK_SPACE, RC_NOT_ENOUGH_SPACE, false, true},
      {"running out part way, then checked", 0, RC_FILE_WRITE, true, false},
  };
  const std::wstring filler = pieces_fs_->Path(L"filler");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PutSource();
    WriteFileBytes(filler, std::string(pieces_fs_->FreeBytes() - kSourceSize / 2, 'f'));
    tarvelin_options options = Options(row.flags);
    tarvelin_outcome outcome = Outcome();
    const ResultCode result = tarvelin_split(Utf8(source_).c_str(), &options, &outcome);
    EXPECT_STREQ(tarvelin_code_name(row.expected), tarvelin_code_name(result))
        << "step " << outcome.step << " " << outcome.file << ": " << outcome.system_message;
    EXPECT_EQ(original_, ReadFileBytes(source_));
    EXPECT_TRUE(invariant_->Holds(DiskFiles()));
    EXPECT_EQ(row.writes, SetFilesInFolder() > 0) << Describe(StateOf(folder_));
    EXPECT_EQ(neighbours_, Neighbours()) << Describe(Neighbours());

    std::filesystem::remove(FsPath(filler));
    if (!row.all_room) {
      WriteFileBytes(filler, std::string(pieces_fs_->FreeBytes() - kSourceSize / 2 - kMiB, 'f'));
      options.flags |= TARVELIN_CHECK_SPACE;
    }
    outcome = Outcome();
    EXPECT_EQ(RC_OK, tarvelin_split(Utf8(source_).c_str(), &options, &outcome))
        << tarvelin_code_name(outcome.code) << " step " << outcome.step << " " << outcome.file;
    EXPECT_EQ(1, outcome.read_back);
    EXPECT_FALSE(FileExists(source_));
    ExpectMergedBack();
  }
}

// Another's file, or a link, at one of the names that the split would
// create in the folder: the split refuses before it changes anything,
// follows no link, and leaves what stands there as it was.
TEST_F(Carry, AnothersFileOrALinkAtASetNameInTheFolderIsRefusedAndLeftAlone) {
  const std::wstring elsewhere = source_fs_->Path(L"victim");
  const std::wstring nowhere = source_fs_->Path(L"nowhere");
  const struct {
    const char* name;
    const wchar_t* at;
    bool link;
    const std::wstring* target;  // for a link
    std::int32_t piece;          // the outcome's piece; -1: the manifest
  } rows[] = {
      {"a file at piece 0's name", L"disk.0", false, nullptr, 0},
      {"a file at the last piece's name", L"disk.5", false, nullptr, 5},
      {"a file at the manifest's name", L"disk.DAT", false, nullptr, -1},
      {"a link at piece 0's name to a file elsewhere", L"disk.0", true, &elsewhere, 0},
      {"a link at the manifest's name to a file elsewhere", L"disk.DAT", true, &elsewhere, -1},
      {"a link at piece 2's name to no file", L"disk.2", true, &nowhere, 2},
  };
  const std::string theirs = "someone else's bytes, not a piece of this source";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PutSource();
    const std::wstring at = folder_ + L"/" + row.at;
    WriteFileBytes(elsewhere, theirs);
    if (row.link) {
      std::filesystem::create_symlink(FsPath(*row.target), FsPath(at));
    } else {
      WriteFileBytes(at, theirs);
    }
    const FolderState folder_before = StateOf(folder_);
    const FolderState source_side_before = StateOf(source_folder_);

    tarvelin_options options = Options();
    tarvelin_outcome outcome = Outcome();
    EXPECT_STREQ("RC_FILE_OPEN",
                 tarvelin_code_name(tarvelin_split(Utf8(source_).c_str(), &options, &outcome)))
        << "step " << outcome.step << " " << outcome.file;
    EXPECT_EQ(row.piece < 0 ? TARVELIN_ROLE_MANIFEST : TARVELIN_ROLE_PIECE, outcome.role);
    EXPECT_EQ(row.piece, outcome.piece);
    EXPECT_EQ(folder_before, StateOf(folder_)) << Describe(StateOf(folder_));
    EXPECT_EQ(source_side_before, StateOf(source_folder_)) << Describe(StateOf(source_folder_));
    EXPECT_EQ(original_, ReadFileBytes(source_));
    EXPECT_EQ(theirs, ReadFileBytes(elsewhere));
    if (row.link) {
      EXPECT_TRUE(std::filesystem::is_symlink(FsPath(at)));
      EXPECT_EQ(FsPath(*row.target), std::filesystem::read_symlink(FsPath(at)));
      EXPECT_FALSE(FileExists(nowhere));
    } else {
      EXPECT_EQ(theirs, ReadFileBytes(at));
    }
    std::filesystem::remove(FsPath(at));
  }
}

// The medium gives back other bytes than it stored: piece 0's bytes are
// changed in the ext4 image itself, below the page cache of the file system
// on it. The read-back catches that and keeps the source; without it, the
// split deletes the source and the pieces no longer hold the original.
struct MediumChange {
  Ext4LoopMount* medium;
  std::wstring piece0;
  std::string stored;  // piece 0's first block, as written
  int at_phase;
  bool done = false;
  bool changed = false;
};

int ChangeMediumOnce(const tarvelin_progress* progress, void* context) {
  auto& change = *static_cast<MediumChange*>(context);
  if (change.done || progress->phase != change.at_phase) return 0;
  change.done = true;
  if (change.at_phase != TARVELIN_PHASE_READ_BACK) {
    // Stored first, so that the library's own flush writes nothing over the
    // change.
    const int fd = open(WideToUtf8(change.piece0).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fdatasync(fd) != 0) return 0;
    close(fd);
  }
  std::string other = change.stored;
  for (char& c : other) c = static_cast<char>(~c);
  change.changed = change.medium->ChangeOnMedium(change.stored, other);
  return 0;
}

TEST_F(Carry, AMediumThatGivesBackOtherBytesIsCaughtByTheReadBack) {
  const struct {
    const char* name;
    int at_phase;
    std::uint32_t flags;
    bool caught;
  } rows[] = {
      {"changed as the read-back begins", TARVELIN_PHASE_READ_BACK, 0, true},
      {"changed once stored, before the flush", TARVELIN_PHASE_FLUSH, 0, true},
      {"changed once stored, no read-back", TARVELIN_PHASE_FLUSH, TARVELIN_NO_READ_BACK, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PutSource();
    MediumChange change{pieces_fs_.get(), folder_ + L"/disk.0", original_.substr(0, 4096),
                        row.at_phase};
    tarvelin_options options = Options(row.flags);
    options.progress = ChangeMediumOnce;
    options.user_data = &change;
    tarvelin_outcome outcome = Outcome();
    const ResultCode result = tarvelin_split(Utf8(source_).c_str(), &options, &outcome);
    ASSERT_TRUE(change.changed) << "piece 0's bytes were not found in the image";
    if (row.caught) {
      EXPECT_STREQ("RC_FILE_WRITE", tarvelin_code_name(result));
      EXPECT_EQ(TARVELIN_STEP_READ_BACK, outcome.step);
      EXPECT_EQ(TARVELIN_ROLE_PIECE, outcome.role);
      EXPECT_EQ(0, outcome.piece);
      EXPECT_EQ(0, outcome.read_back);
      EXPECT_EQ(original_, ReadFileBytes(source_));
    } else {
      EXPECT_STREQ("RC_OK", tarvelin_code_name(result));
      EXPECT_EQ(0, outcome.read_back);
      EXPECT_FALSE(FileExists(source_));
      EXPECT_NE(original_.substr(0, kMiB), ReadFromMedium(folder_ + L"/disk.0"));
      tarvelin_options merge = Options();
      EXPECT_STREQ("RC_DIGEST_MISMATCH",
                   tarvelin_code_name(tarvelin_merge(Utf8(source_).c_str(), &merge, nullptr)));
    }
    EXPECT_EQ(neighbours_, Neighbours()) << Describe(Neighbours());
  }
}

}  // namespace
}  // namespace tarvelin::testing
