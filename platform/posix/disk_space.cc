// SPDX-License-Identifier: MIT
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#if defined(__linux__)
#include <sys/vfs.h>
#endif

#include <string>

#include "platform/disk_space.h"
#include "platform/posix/mount_table.h"
#include "platform/utf8.h"

namespace tarvelin {
namespace {

// The folder that holds `path`: "." for a bare name, "/" for "/name".
std::string FolderOf(const wchar_t* path) {
  std::string folder = WideToUtf8(std::wstring(path));
  const std::string::size_type slash = folder.find_last_of('/');
  if (slash == std::string::npos) return ".";
  folder.resize(slash == 0 ? 1 : slash);
  return folder;
}

#if defined(__linux__)
constexpr long kMsdosMagic = 0x4d44;  // the kernel's FAT driver (vfat, msdos)
#endif

}  // namespace

bool FreeSpaceOf(const wchar_t* path, std::uint64_t* free_bytes) {
  if (path == nullptr || free_bytes == nullptr) return false;
  struct statvfs info;
  if (statvfs(FolderOf(path).c_str(), &info) != 0) return false;
  // A file system of no blocks tells nothing of its room.
  if (info.f_blocks == 0) return false;
  *free_bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
  return true;
}

bool FileSystemOf(const wchar_t* path, FileSystemInformation* info) {
  if (path == nullptr || info == nullptr) return false;
  const std::string folder = FolderOf(path);
  struct stat entry;
  if (stat(folder.c_str(), &entry) != 0) return false;
  std::string type = posix::MountTypeOfDevice(major(entry.st_dev), minor(entry.st_dev));
#if defined(__linux__)
  struct statfs system;
  if (type.empty() && statfs(folder.c_str(), &system) == 0 &&
      static_cast<long>(system.f_type) == kMsdosMagic) {
    type = "vfat";
  }
#endif
  info->name = Utf8ToWide(type);
  info->family = FamilyOfFileSystem(info->name);
  info->volume = static_cast<std::uint64_t>(entry.st_dev);
  return true;
}

}  // namespace tarvelin
