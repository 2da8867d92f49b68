// SPDX-License-Identifier: MIT
#include "library/file_helpers.h"

#include <initializer_list>

namespace tarvelin {

ResultCode QueryFileSize(Platform& platform, const wchar_t* path, std::uint64_t* size) {
  if (size != nullptr) *size = 0;
  if (path == nullptr || path[0] == L'\0') return RC_INVALID_PATH;

  FileHandle file = platform.CreateFile(path, kAccessRead, kShareRead | kShareWrite,
                                        Disposition::kOpenExisting, Attribute::kReadOnly);
  if (file == InvalidHandle() || file == nullptr) return RC_FILE_OPEN;

  ResultCode result = RC_OK;
  std::uint32_t high = 0;
  // A stale error must not turn a real low half of 0xFFFFFFFF into a failure.
  platform.SetLastError(0);
  const std::uint32_t low = platform.GetFileSize(file, &high);
  // 0xFFFFFFFF is also a real low half; only a pending error makes it a failure.
  if (low == 0xFFFFFFFFu && platform.GetLastError() != 0) {
    result = RC_FILE_SIZE;
  } else if (size != nullptr) {
    *size = (static_cast<std::uint64_t>(high) << 32) | low;
  }
  platform.CloseHandle(file);
  return result;
}

void CloseHandlesKeepError(Platform& platform, FileHandle first, FileHandle second,
                           FileHandle third) {
  std::uint32_t kept = platform.GetLastError();
  for (FileHandle handle : {first, second, third}) {
    if (handle == nullptr) continue;
    if (!platform.CloseHandle(handle) && kept == 0) kept = platform.GetLastError();
  }
  platform.SetLastError(kept);
}

}  // namespace tarvelin
