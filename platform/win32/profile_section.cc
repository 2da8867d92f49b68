// SPDX-License-Identifier: MIT
#include "platform/win32/profile_section.h"

#include <new>
#include <string>
#include <vector>

#include "platform/win32/api.h"

namespace tarvelin {
namespace {

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f' || c == L'\r' || c == 0x1A;
}

std::wstring Trimmed(const wchar_t* begin, const wchar_t* end) {
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
  return std::wstring(begin, end);
}

std::wstring WithoutQuotes(std::wstring value) {
  if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

bool ReadProfileSectionEntries(const wchar_t* section, const wchar_t* path,
                               const ProfileEntryVisitor& visit) {
  if (::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return false;
  try {
    // The call says that the buffer was too small only by filling it to
    // size - 2; then it is doubled and the section read again.
    std::vector<wchar_t> buffer(65536);
    DWORD got = 0;
    for (;;) {
      got = ::GetPrivateProfileSectionW(section, buffer.data(), static_cast<DWORD>(buffer.size()),
                                        path);
      if (got + 2 < buffer.size()) break;
      buffer.assign(buffer.size() * 2, L'\0');
    }
    for (const wchar_t* entry = buffer.data(); *entry != L'\0';) {
      const wchar_t* end = entry;
      while (*end != L'\0') ++end;
      const wchar_t* equals = entry;
      while (equals < end && *equals != L'=') ++equals;
      if (equals < end) {
        const std::wstring name = Trimmed(entry, equals);
        const std::wstring value = WithoutQuotes(Trimmed(equals + 1, end));
        if (!visit(name.c_str(), value.c_str())) return true;
      }
      entry = end + 1;
    }
    return true;
  } catch (const std::bad_alloc&) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
}

}  // namespace tarvelin
