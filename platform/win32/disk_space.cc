// SPDX-License-Identifier: MIT
#include <string>
#include <vector>

#include "platform/disk_space.h"
#include "platform/win32/api.h"
#include "platform/win32/long_path.h"

namespace tarvelin {
namespace {

// The folder part of `path`, with its separator kept so that "C:\name" asks
// about "C:\" and "C:name" about "C:" (the current folder of that drive), in
// the system's form; the current folder for a bare name.
std::wstring FolderOf(const wchar_t* path) {
  std::wstring folder(path);
  const std::wstring::size_type cut = folder.find_last_of(L"\\/:");
  if (cut == std::wstring::npos) return L".";
  folder.resize(cut + 1);
  return std::wstring(SystemPath(folder.c_str()).c_str());
}

}  // namespace

bool FreeSpaceOf(const wchar_t* path, std::uint64_t* free_bytes) {
  if (path == nullptr || free_bytes == nullptr) return false;
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(FolderOf(path).c_str(), &available, nullptr, nullptr)) return false;
  *free_bytes = available.QuadPart;
  return true;
}

bool FileSystemOf(const wchar_t* path, FileSystemInformation* info) {
  if (path == nullptr || info == nullptr) return false;
  const std::wstring folder = FolderOf(path);
  // The root of the volume that holds the folder, which is what
  // GetVolumeInformationW asks about; it is never longer than the folder.
  std::vector<wchar_t> root(folder.size() + 2);
  if (!GetVolumePathNameW(folder.c_str(), root.data(), static_cast<DWORD>(root.size()))) {
    return false;
  }
  wchar_t name[MAX_PATH + 1] = {};
  DWORD serial = 0;
  if (!GetVolumeInformationW(root.data(), nullptr, 0, &serial, nullptr, nullptr, name,
                             MAX_PATH + 1)) {
    return false;
  }
  info->name = name;
  info->volume = serial;
  info->family = FamilyOfFileSystem(info->name);
  return true;
}

}  // namespace tarvelin
