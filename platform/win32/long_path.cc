// SPDX-License-Identifier: MIT
#include "platform/win32/long_path.h"

#include <cstddef>
#include <cwchar>

#include "platform/win32/api.h"

namespace tarvelin {
namespace {

// The Win32 functions take up to MAX_PATH - 1 characters and a terminator.
// CreateDirectoryW stops 12 characters sooner, to leave room for an 8.3 name
// inside the folder, but nothing that takes a SystemPath creates a folder,
// and putting a shorter path in the extended form would change what it means
// where nothing needs changing: a device name in it would name a file.
constexpr std::size_t kLongestShortPath = MAX_PATH - 1;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// \\?\, \\.\ (Win32 takes either separator in both) or \??\: the caller
// names the system's namespace, not a Win32 path to complete.
bool InDeviceNamespace(const wchar_t* path) {
  if (IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.') &&
      IsSeparator(path[3])) {
    return true;
  }
  return std::wcsncmp(path, L"\\??\\", 4) == 0;
}

// GetFullPathNameW's reading of `path`; empty when it fails.
std::wstring FullPath(const wchar_t* path) {
  std::wstring full;
  DWORD size = ::GetFullPathNameW(path, 0, nullptr, nullptr);
  // A relative path needs more room if the current folder changes between
  // the calls; the second reading then asks for it.
  for (int attempt = 0; attempt < 2 && size != 0; ++attempt) {
    full.resize(size);
    const DWORD length = ::GetFullPathNameW(path, size, &full[0], nullptr);
    if (length < size) {
      full.resize(length);
      return full;
    }
    size = length;
  }
  return std::wstring();
}

// Where the last name of `path` starts: after its last separator, or after
// a drive ("C:nul").
std::size_t LastNameStart(const wchar_t* path) {
  std::size_t start = path[0] != L'\0' && path[1] == L':' ? 2 : 0;
  for (std::size_t i = start; path[i] != L'\0'; ++i) {
    if (IsSeparator(path[i])) start = i + 1;
  }
  return start;
}

// The full path of the plain file that the last name of `path` names in its
// folder, for a last name that GetFullPathNameW reads as a device (it then
// answers \\.\NUL and drops the folder). Its folder is read as Win32 reads
// it, and the name loses its trailing dots and blanks as any last name does.
std::wstring FileInItsFolder(const wchar_t* path) {
  const std::size_t start = LastNameStart(path);
  const std::wstring folder(path, start);
  std::wstring full = FullPath(folder.empty() ? L"." : folder.c_str());
  if (full.empty()) return full;
  if (!IsSeparator(full.back())) full += L'\\';
  std::size_t end = std::wcslen(path);
  while (end > start && (path[end - 1] == L'.' || path[end - 1] == L' ')) --end;
  full.append(path + start, end - start);
  return full;
}

}  // namespace

SystemPath::SystemPath(const wchar_t* path) : given_(path) {
  if (path == nullptr || std::wcslen(path) <= kLongestShortPath || InDeviceNamespace(path)) return;
  std::wstring full = FullPath(path);
  if (!full.empty() && InDeviceNamespace(full.c_str())) full = FileInItsFolder(path);
  if (full.empty() || InDeviceNamespace(full.c_str())) return;
  if (IsSeparator(full[0]) && IsSeparator(full[1])) {
    extended_ = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    extended_ = L"\\\\?\\" + full;
  }
}

}  // namespace tarvelin
