// SPDX-License-Identifier: MIT
// The shell's own extension rules, so that names derived on Windows are those
// that the shell and other Windows programs derive, with one difference:
// Windows takes '/' as a folder separator and hosts pass paths written with
// it, but the shell's functions know only '\\'. Handed "C:/data/backup.2020/disk"
// they would take ".2020/disk" for the extension, and the pieces and the
// manifest would land beside the folder, over files that are not ours. So the
// shell is handed only what follows the last '/', where its rule is ours.
#include <cwchar>

#include "platform/path_rules.h"
#include "platform/win32/api.h"

namespace tarvelin {
namespace {

wchar_t* AfterLastSlash(wchar_t* path) {
  wchar_t* slash = std::wcsrchr(path, L'/');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace

const wchar_t* FindExtension(const wchar_t* path) {
  if (path == nullptr) return nullptr;
  return ::PathFindExtensionW(AfterLastSlash(const_cast<wchar_t*>(path)));
}

void RemoveExtension(wchar_t* path) {
  if (path == nullptr) return;
  ::PathRemoveExtensionW(AfterLastSlash(path));
}

}  // namespace tarvelin
