// SPDX-License-Identifier: MIT
// Conversion between wide paths and UTF-8. wchar_t is UTF-16 on Windows and
// UTF-32 on POSIX.
//
// On Windows it is WideCharToMultiByte and MultiByteToWideChar with CP_UTF8:
// a character that cannot be encoded (a lone surrogate) becomes U+FFFD, and
// so does a malformed UTF-8 byte.
//
// On POSIX, where a file name is any bytes, the conversion is lossless for
// bytes: each byte 0x80..0xFF that is not part of valid UTF-8 decodes to the
// lone surrogate U+DC80..U+DCFF (U+DC00 + the byte) and encodes back to that
// byte, so Utf8ToWide followed by WideToUtf8 gives back any byte string. The
// other values that are no characters (the other lone surrogates, values
// beyond U+10FFFF) encode as U+FFFD.
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

// A host's UTF-8 path as the platform's wide path. On POSIX every byte string
// converts, as Utf8ToWide does; on Windows a path that is not valid UTF-8 is
// refused (false), since no replacement character would name the file the
// host meant. False for a null path.
bool PathFromUtf8(const char* utf8, std::wstring* wide);

// Unbounded forms for code that owns its strings (the tool, tests).
std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& utf8);

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_UTF8_H_
