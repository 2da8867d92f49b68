// SPDX-License-Identifier: MIT
// Conversion between wide paths and UTF-8, as WideCharToMultiByte and
// MultiByteToWideChar do it with CP_UTF8. wchar_t is UTF-16 on Windows and
// UTF-32 on POSIX; a character that cannot be encoded (a lone surrogate, a
// value beyond U+10FFFF) becomes U+FFFD, and so does a malformed UTF-8 byte.
#ifndef TARVELIN_PLATFORM_UTF8_H_
#define TARVELIN_PLATFORM_UTF8_H_

#include <cstddef>
#include <string>

namespace tarvelin {

// Converts the terminated `wide` text, with its terminator, into `out` of
// `capacity` bytes. Returns the count of bytes written including the
// terminator, or 0 when it does not fit; then `out` holds an empty string
// (when capacity > 0) and nothing is written past `capacity`.
std::size_t WideToUtf8(const wchar_t* wide, char* out, std::size_t capacity);

// Unbounded forms for code that owns its strings (the tool, tests).
std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& utf8);

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_UTF8_H_
