// SPDX-License-Identifier: MIT
#include <string>

#include "platform/disk_space.h"
#include "platform/win32/api.h"
#include "platform/win32/long_path.h"

namespace tarvelin {

bool FreeSpaceOf(const wchar_t* path, std::uint64_t* free_bytes) {
  if (path == nullptr || free_bytes == nullptr) return false;
  // The folder part, with its separator kept so that "C:\name" asks about
  // "C:\" and "C:name" about "C:" (the current folder of that drive).
  std::wstring folder(path);
  const std::wstring::size_type cut = folder.find_last_of(L"\\/:");
  const wchar_t* query = nullptr;  // null: the current folder's drive
  if (cut != std::wstring::npos) {
    folder.resize(cut + 1);
    query = folder.c_str();
  }
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(SystemPath(query).c_str(), &available, nullptr, nullptr)) return false;
  *free_bytes = available.QuadPart;
  return true;
}

}  // namespace tarvelin
