// SPDX-License-Identifier: MIT
#include "cli/escaped_line.h"

#include <cstdio>

#include "platform/utf8.h"

namespace tarvelin::cli {
namespace {

// On POSIX a byte that is not part of valid UTF-8 decodes to U+DC00 + byte.
constexpr wchar_t kStrayC1First = 0xDC80, kStrayC1Last = 0xDC9F;

void AppendHex(unsigned byte, std::string* out) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", byte & 0xFFu);
  *out += text;
}

// On Windows a backslash separates folders in every path the tool prints,
// and no name can hold one, so it is printed as it is.
#ifdef _WIN32
constexpr bool kEscapeBackslash = false;
#else
constexpr bool kEscapeBackslash = true;
#endif

}  // namespace

std::string EscapedLine(const std::string& line) {
  std::string escaped;
  bool any = false;
  for (const wchar_t c : Utf8ToWide(line)) {
    const std::string bytes = WideToUtf8(std::wstring(1, c));
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    const bool stray_c1 = c >= kStrayC1First && c <= kStrayC1Last;
    if (c == L'\\' && kEscapeBackslash) {
      escaped += "\\\\";
    } else if (c == L'\n') {
      escaped += "\\n";
    } else if (c == L'\r') {
      escaped += "\\r";
    } else if (control || stray_c1) {
      for (const char byte : bytes) AppendHex(static_cast<unsigned char>(byte), &escaped);
    } else {
      escaped += bytes;
      continue;
    }
    any = true;
  }
  return any ? "\\" + escaped : line;
}

}  // namespace tarvelin::cli
