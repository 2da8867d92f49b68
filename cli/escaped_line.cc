// SPDX-License-Identifier: MIT
#include "cli/escaped_line.h"

#include <cstdio>

namespace tarvelin::cli {
namespace {

void AppendHex(unsigned byte, std::string* out) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", byte & 0xFFu);
  *out += text;
}

// The length of the valid UTF-8 sequence at `at` (no overlong form, no
// surrogate, nothing past U+10FFFF) and its character; 0 when the byte there
// begins none, and is then a stray byte on its own.
std::size_t ValidSequence(const std::string& text, std::size_t at, char32_t* c) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    *c = lead;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    *c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    *c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    *c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(at + i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    *c = (*c << 6) | (next & 0x3F);
  }
  return length;
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
  for (std::size_t at = 0; at < line.size();) {
    char32_t c = 0;
    std::size_t length = ValidSequence(line, at, &c);
    const bool stray = length == 0;
    if (stray) {
      length = 1;
      c = static_cast<unsigned char>(line[at]);
    }
    const std::string bytes = line.substr(at, length);
    at += length;
    const bool control = !stray && (c < 0x20 || (c >= 0x7F && c <= 0x9F));
    const bool stray_c1 = stray && c >= 0x80 && c <= 0x9F;
    if (c == U'\\' && kEscapeBackslash) {
      escaped += "\\\\";
    } else if (c == U'\n') {
      escaped += "\\n";
    } else if (c == U'\r') {
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
