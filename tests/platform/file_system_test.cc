// SPDX-License-Identifier: MIT
// What kind of file system holds a folder, on Linux: the mount table read
// for a device's type, the names that mean FAT, and a FAT32 image mounted
// through fusefat, which statfs names only as FUSE and which reports no
// blocks at all. On that stick, through the library's functions: pieces
// carried there and back, a split on the stick itself, and what FAT cannot
// hold refused before anything is read or written.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/disk_space.h"
#include "platform/platform.h"
#include "platform/posix/mount_table.h"
#include "platform/utf8.h"
#include "tarvelin/tarvelin.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

constexpr char kTable[] =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "46 22 0:41 / /media/stick rw,nosuid - fuse.fusefat fusefat rw,user_id=0\n"
    "47 22 8:17 / /media/card rw master:2 shared:3 - vfat /dev/sdb1 rw,fmask=0022\n"
    "48 22 0:50 / /broken rw no-separator-here\n"
    "49 22 8:1 /home /home rw - ext4 /dev/sda1 rw\n";

TEST(MountTable, NamesTheTypeOfADevicesMount) {
  const struct {
    unsigned major, minor;
    const char* type;
  } rows[] = {
      {8, 1, "ext4"},            // the first of two bind mounts
      {0, 41, "fuse.fusefat"},   // no optional tags
      {8, 17, "vfat"},           // two optional tags
      {0, 50, ""},               // no "-" before the type
      {8, 2, ""},                // no such device
      {80, 1, ""},               // "8:1" is not a prefix match
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.type, posix::MountTypeOfDevice(kTable, row.major, row.minor))
        << row.major << ":" << row.minor;
  }
}

TEST(FileSystemFamily, FatByAnyOfItsNamesAndNothingElse) {
  for (const wchar_t* fat : {L"FAT", L"FAT32", L"fat16", L"vfat", L"msdos", L"fuse.fusefat"}) {
    EXPECT_EQ(FileSystemFamily::kFat, FamilyOfFileSystem(fat)) << WideToUtf8(fat);
  }
  for (const wchar_t* other : {L"exFAT", L"NTFS", L"ext4", L"fuse", L"", L"fat32x"}) {
    EXPECT_EQ(FileSystemFamily::kOther, FamilyOfFileSystem(other)) << WideToUtf8(other);
  }
}

TEST(FileSystemOf, ATemporaryFolderIsNamedByTheMountTable) {
  testing::TempDir dir;
  FileSystemInformation info;
  ASSERT_TRUE(DefaultPlatform().GetVolumeInformation(dir.Path(L"disk.img").c_str(), &info));
  EXPECT_FALSE(info.name.empty());
  EXPECT_EQ(FileSystemFamily::kOther, info.family) << WideToUtf8(info.name);
  EXPECT_FALSE(DefaultPlatform().GetVolumeInformation(L"/no/such/folder/disk.img", &info));
}

// A FAT32 image made by mkfs.fat and mounted through fusefat (dosfstools and
// fusefat; FUSE needs root here).
class FatStick : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || std::system("command -v mkfs.fat fusefat >/dev/null 2>&1") != 0 ||
        access("/dev/fuse", R_OK | W_OK) != 0) {
      GTEST_SKIP() << "needs root, /dev/fuse, mkfs.fat (dosfstools) and fusefat";
    }
    image_ = WideToUtf8(dir_.Path(L"stick.img"));
    mount_ = WideToUtf8(dir_.Path(L"stick"));
    const std::string make = "truncate -s 40M '" + image_ + "' && mkdir '" + mount_ +
                             "' && mkfs.fat -F 32 '" + image_ + "' >/dev/null && fusefat -o rw+ '" +
                             image_ + "' '" + mount_ + "' >/dev/null 2>&1";
    // A machine may offer FUSE and still refuse this process a mount.
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "could not mount a FAT32 image: " << make;
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) std::system(("fusermount -u '" + mount_ + "'").c_str());
  }

  tarvelin_options Options(std::uint32_t flags, std::uint64_t piece_size,
                           const char* piece_folder) const {
    tarvelin_options options{};
    options.size = sizeof options;
    options.flags = flags;
    options.piece_size = piece_size;
    options.piece_folder = piece_folder;
    return options;
  }
  static tarvelin_outcome Outcome() {
    tarvelin_outcome outcome{};
    outcome.size = sizeof outcome;
    return outcome;
  }
  int FilesOnStick() const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(mount_)) {
      (void)entry;
      ++count;
    }
    return count;
  }

  testing::TempDir dir_;
  std::string image_, mount_;
  bool mounted_ = false;
};

TEST_F(FatStick, IsFatAndTellsNoRoom) {
  const std::wstring piece = Utf8ToWide(mount_ + "/disk.0");
  FileSystemInformation info;
  ASSERT_TRUE(DefaultPlatform().GetVolumeInformation(piece.c_str(), &info));
  EXPECT_EQ(L"fuse.fusefat", info.name);
  EXPECT_EQ(FileSystemFamily::kFat, info.family);
  // fusefat reports no blocks: its room is unknown, not nothing.
  std::uint64_t free_bytes = 0;
  EXPECT_FALSE(DefaultPlatform().GetDiskFreeSpace(piece.c_str(), &free_bytes));
}

constexpr std::uint64_t kMiB = 1 << 20;

// Split from the temporary folder onto the stick, keeping the source, and
// merged from the stick into another folder: FAT is known, every piece read
// back, and the original comes back whole.
TEST_F(FatStick, CarriesPiecesToTheStickAndBack) {
  const std::string original = testing::PatternBytes(5 * kMiB / 2, 31);
  const std::string source = WideToUtf8(dir_.Path(L"disk.img"));
  testing::WriteFileBytes(dir_.Path(L"disk.img"), original);
  tarvelin_options split = Options(TARVELIN_KEEP_SOURCE, kMiB, mount_.c_str());
  tarvelin_outcome outcome = Outcome();
  ASSERT_EQ(RC_OK, tarvelin_split(source.c_str(), &split, &outcome))
      << tarvelin_code_name(outcome.code) << " step " << outcome.step << " " << outcome.file;
  EXPECT_EQ(TARVELIN_FS_FAT, outcome.file_system);
  EXPECT_EQ(1, outcome.read_back);
  EXPECT_EQ(3, outcome.pieces);
  EXPECT_EQ(4, FilesOnStick());  // three pieces and the manifest
  EXPECT_EQ(original, testing::ReadFileBytes(dir_.Path(L"disk.img")));

  const std::wstring back = dir_.Path(L"back");
  std::filesystem::create_directory(testing::FsPath(back));
  const std::string rebuilt = WideToUtf8(back) + "/disk.img";
  tarvelin_options merge = Options(0, 0, mount_.c_str());
  outcome = Outcome();
  ASSERT_EQ(RC_OK, tarvelin_merge(rebuilt.c_str(), &merge, &outcome))
      << tarvelin_code_name(outcome.code) << " step " << outcome.step << " " << outcome.file;
  EXPECT_EQ(original, testing::ReadFileBytes(Utf8ToWide(rebuilt)));
  EXPECT_EQ(0, FilesOnStick());
}

// What the stick cannot hold is refused before the source is read and
// before anything is written: a name with a character that FAT refuses, and
// pieces past 4 GiB - 1 byte (a sparse source of 4 GiB + 1 MiB cut into
// pieces of 4096 MiB).
TEST_F(FatStick, RefusesWhatFatCannotHoldBeforeReadingOrWriting) {
  const struct {
    const char* name;
    const wchar_t* source;
    std::uint64_t size;
    std::uint64_t piece_size;
    ResultCode code;
    int step;
  } rows[] = {
      {"a ':' in the name", L"a:b.img", kMiB, kMiB, RC_INVALID_PATH,
       TARVELIN_STEP_NAME_NOT_ALLOWED},
      {"pieces past 4 GiB", L"big.img", (4096 + 1) * kMiB, 4096 * kMiB, RC_INVALID_ARGUMENT,
       TARVELIN_STEP_TOO_LARGE_FOR_MEDIUM},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::wstring source = dir_.Path(row.source);
    testing::MakeSparseFile(source, row.size);
    tarvelin_options options = Options(0, row.piece_size, mount_.c_str());
    // Told of no phase at all: the source's fingerprint is the first.
    int told = 0;
    options.user_data = &told;
    options.progress = [](const tarvelin_progress*, void* context) {
      ++*static_cast<int*>(context);
      return 0;
    };
    tarvelin_outcome outcome = Outcome();
    EXPECT_STREQ(tarvelin_code_name(row.code),
                 tarvelin_code_name(tarvelin_split(WideToUtf8(source).c_str(), &options, &outcome)));
    EXPECT_EQ(row.step, outcome.step);
    EXPECT_EQ(TARVELIN_ROLE_PIECE, outcome.role);
    EXPECT_EQ(TARVELIN_FS_FAT, outcome.file_system);
    EXPECT_EQ(0, told);
    EXPECT_EQ(0, FilesOnStick());
    EXPECT_EQ(row.size, testing::FileSizeOf(source));
    std::filesystem::remove(testing::FsPath(source));
  }
}

// A split on the stick itself, its pieces beside the source, and a merge
// there that rebuilds it.
TEST_F(FatStick, SplitsAndMergesOnTheStickItself) {
  const std::string original = testing::PatternBytes(5 * kMiB / 2, 37);
  const std::string source = mount_ + "/disk.img";
  testing::WriteFileBytes(Utf8ToWide(source), original);
  tarvelin_options options = Options(0, kMiB, nullptr);
  tarvelin_outcome outcome = Outcome();
  ASSERT_EQ(RC_OK, tarvelin_split(source.c_str(), &options, &outcome))
      << tarvelin_code_name(outcome.code) << " step " << outcome.step << " " << outcome.file;
  EXPECT_EQ(TARVELIN_FS_FAT, outcome.file_system);
  EXPECT_EQ(3, outcome.pieces);
  EXPECT_FALSE(testing::FileExists(Utf8ToWide(source)));
  outcome = Outcome();
  ASSERT_EQ(RC_OK, tarvelin_merge(source.c_str(), &options, &outcome))
      << tarvelin_code_name(outcome.code) << " step " << outcome.step << " " << outcome.file;
  EXPECT_EQ(original, testing::ReadFileBytes(Utf8ToWide(source)));
  EXPECT_EQ(1, FilesOnStick());
}

}  // namespace
}  // namespace tarvelin
