// SPDX-License-Identifier: MIT
// The shell's own extension rules, so that names derived on Windows are those
// that the shell and other Windows programs derive, with one difference:
// Windows takes '/' as a folder separator and hosts pass paths written with
// it, but the shell's functions know only '\\'. Handed "C:/data/backup.2020/disk"
// they would take ".2020/disk" for the extension, and the pieces and the
// manifest would land beside the folder, over files that are not ours. So the
// shell is handed only what follows the last '/', where its rule is ours.
#include <cstddef>
#include <cwchar>
#include <initializer_list>

#include "platform/path_rules.h"
#include "platform/win32/api.h"

namespace tarvelin {
namespace {

wchar_t* AfterLastSlash(wchar_t* path) {
  wchar_t* slash = std::wcsrchr(path, L'/');
  return slash != nullptr ? slash + 1 : path;
}

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

bool IsDigitOrSuperscript(wchar_t c) {
  return (c >= L'0' && c <= L'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;
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

bool IsDeviceName(const wchar_t* path) {
  if (path == nullptr) return false;
  // After the last separator, or after a drive ("C:nul.img").
  const wchar_t* name = path[0] != L'\0' && path[1] == L':' ? path + 2 : path;
  for (const wchar_t* c = name; *c != L'\0'; ++c) {
    if (*c == L'\\' || *c == L'/') name = c + 1;
  }
  // The stem: up to the first dot, without the blanks before it.
  std::size_t length = 0;
  while (name[length] != L'\0' && name[length] != L'.') ++length;
  while (length > 0 && name[length - 1] == L' ') --length;
  wchar_t stem[8] = {};
  if (length < 3 || length > 7) return false;
  for (std::size_t i = 0; i < length; ++i) stem[i] = Upper(name[i]);
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (std::wcscmp(stem, device) == 0) return true;
  }
  return length == 4 && (std::wcsncmp(stem, L"COM", 3) == 0 || std::wcsncmp(stem, L"LPT", 3) == 0) &&
         IsDigitOrSuperscript(stem[3]);
}

}  // namespace tarvelin
