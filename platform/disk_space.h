// SPDX-License-Identifier: MIT
// The file system that would receive a new file: how much room is left on
// it, so that a split or a merge can refuse up front instead of failing part
// way with a full disk, and what kind it is, for the limits that some media
// put on files (FAT holds no file of 4 GiB or more).
#ifndef TARVELIN_PLATFORM_DISK_SPACE_H_
#define TARVELIN_PLATFORM_DISK_SPACE_H_

#include <cstdint>
#include <string>

namespace tarvelin {

// Stores in *free_bytes the bytes that this process may still write on the
// file system of the folder that holds `path` (the file itself need not
// exist; a path without a folder part means the current folder). Space kept
// for the administrator is not counted. Returns false when the folder cannot
// be examined, or does not tell its room (fusefat reports no blocks at
// all); *free_bytes is then untouched.
bool FreeSpaceOf(const wchar_t* path, std::uint64_t* free_bytes);

enum class FileSystemFamily {
  kOther,
  kFat,  // FAT12, FAT16 or FAT32, by the kernel's driver or through FUSE
};

// The largest file that FAT holds: 4 GiB - 1 byte.
constexpr std::uint64_t kFatLargestFile = 0xFFFFFFFFu;

struct FileSystemInformation {
  // The system's own name: "FAT32" or "NTFS" on Windows; on Linux the mount
  // table's type ("vfat", "fuse.fusefat", "ext4"), empty when not found.
  std::wstring name;
  FileSystemFamily family = FileSystemFamily::kOther;
  // What FileInformation::volume says of the files on it: its serial number
  // on Windows, the folder's st_dev on POSIX.
  std::uint64_t volume = 0;
};

// The family of a file system by its name as FileSystemInformation gives it,
// in any case. exFAT is not FAT: it holds larger files.
FileSystemFamily FamilyOfFileSystem(const std::wstring& name);

// True when the file systems of the FAT family refuse `c` in a name: the
// control characters and " * / : < > ? \\ |.
bool FatRefuses(wchar_t c);

// Tells what file system holds the folder of `path`, as FreeSpaceOf finds
// that folder (GetVolumePathNameW and GetVolumeInformationW on Windows; on
// Linux the mount table's entry for the folder's device, or statfs when the
// table does not name it). Returns false when the folder cannot be examined;
// *info is then untouched.
bool FileSystemOf(const wchar_t* path, FileSystemInformation* info);

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_DISK_SPACE_H_
