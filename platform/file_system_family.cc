// SPDX-License-Identifier: MIT
#include <cwctype>

#include "platform/disk_space.h"

namespace tarvelin {

FileSystemFamily FamilyOfFileSystem(const std::wstring& name) {
  std::wstring lower;
  for (wchar_t c : name) lower += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  for (const wchar_t* fat : {L"fat", L"fat12", L"fat16", L"fat32", L"vfat", L"msdos",
                             L"fuse.fusefat"}) {
    if (lower == fat) return FileSystemFamily::kFat;
  }
  return FileSystemFamily::kOther;
}

bool FatRefuses(wchar_t c) {
  if (c < 0x20) return true;
  for (wchar_t refused : L"\"*/:<>?\\|") {
    if (refused != L'\0' && c == refused) return true;
  }
  return false;
}

}  // namespace tarvelin
