// SPDX-License-Identifier: MIT
// UTF-8 conversion through the system's own code-page functions. With flags 0
// both replace what cannot be converted by U+FFFD instead of failing.
#include <climits>

#include "platform/utf8.h"
#include "platform/win32/api.h"

namespace tarvelin {

std::size_t WideToUtf8(const wchar_t* wide, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;  // A zero size would ask for the needed size instead.
  const int limit = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  // The function never writes past `limit`, but on a short buffer it may leave
  // a cut, unterminated text behind.
  const int written = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, limit, nullptr, nullptr);
  if (written <= 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(written);
}

std::string WideToUtf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int length = static_cast<int>(wide.size());
  const int needed =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &utf8[0], needed, nullptr, nullptr);
  return utf8;
}

std::wstring Utf8ToWide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int length = static_cast<int>(utf8.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, &wide[0], needed);
  return wide;
}

bool PathFromUtf8(const char* utf8, std::wstring* wide) {
  if (utf8 == nullptr) return false;
  wide->clear();
  if (*utf8 == '\0') return true;
  const int needed = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (needed <= 0) return false;
  wide->resize(static_cast<std::size_t>(needed));
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &(*wide)[0], needed);
  wide->resize(static_cast<std::size_t>(needed) - 1);  // the terminator
  return true;
}

}  // namespace tarvelin
