// SPDX-License-Identifier: MIT
// What kind of file system holds a folder, on Linux: the mount table read
// for a device's type, the names that mean FAT, and a FAT32 image mounted
// through fusefat, which statfs names only as FUSE and which reports no
// blocks at all.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/disk_space.h"
#include "platform/platform.h"
#include "platform/posix/mount_table.h"
#include "platform/utf8.h"
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

}  // namespace
}  // namespace tarvelin
