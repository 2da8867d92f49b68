// SPDX-License-Identifier: MIT
// The shell's extension rules with '/' as the component separator. Scanning
// left to right, a dot marks a possible extension and a separator or a space
// forgets it, so the extension is the last dot of the last component unless a
// space follows that dot. A name that starts with its only dot (".profile") is
// all extension, as on Windows; '\\' is an ordinary character here.
#include "platform/path_rules.h"

namespace tarvelin {

const wchar_t* FindExtension(const wchar_t* path) {
  if (path == nullptr) return nullptr;
  const wchar_t* last_dot = nullptr;
  const wchar_t* p = path;
  for (; *p != L'\0'; ++p) {
    if (*p == L'/' || *p == L' ') {
      last_dot = nullptr;
    } else if (*p == L'.') {
      last_dot = p;
    }
  }
  return last_dot != nullptr ? last_dot : p;
}

void RemoveExtension(wchar_t* path) {
  if (path == nullptr) return;
  *const_cast<wchar_t*>(FindExtension(path)) = L'\0';
}

// A device has a name in /dev; a name elsewhere is a name like any other.
bool IsDeviceName(const wchar_t*) { return false; }

}  // namespace tarvelin
