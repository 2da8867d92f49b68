// SPDX-License-Identifier: MIT
// Where one component of a path ends and the next begins: '/' everywhere,
// and on Windows '\\' too, with a drive's colon ending the first.
#include "platform/path_rules.h"

namespace tarvelin {

#if defined(_WIN32)
const wchar_t kSeparator = L'\\';
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
#else
const wchar_t kSeparator = L'/';
bool IsSeparator(wchar_t c) { return c == L'/'; }
#endif

const wchar_t* LastComponent(const wchar_t* path) {
  const wchar_t* last = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
#if defined(_WIN32)
    if (*p == L':') last = p + 1;
#endif
    if (IsSeparator(*p)) last = p + 1;
  }
  return last;
}

}  // namespace tarvelin
