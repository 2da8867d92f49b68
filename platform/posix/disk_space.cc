// SPDX-License-Identifier: MIT
#include <sys/statvfs.h>

#include <string>

#include "platform/disk_space.h"
#include "platform/utf8.h"

namespace tarvelin {

bool FreeSpaceOf(const wchar_t* path, std::uint64_t* free_bytes) {
  if (path == nullptr || free_bytes == nullptr) return false;
  std::string folder = WideToUtf8(std::wstring(path));
  const std::string::size_type slash = folder.find_last_of('/');
  if (slash == std::string::npos) {
    folder = ".";
  } else {
    folder.resize(slash == 0 ? 1 : slash);  // "/name" lives in "/"
  }
  struct statvfs info;
  if (statvfs(folder.c_str(), &info) != 0) return false;
  *free_bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
  return true;
}

}  // namespace tarvelin
