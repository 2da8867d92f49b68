// SPDX-License-Identifier: MIT
// UTF-32 <-> UTF-8 for names that are bytes. A Linux file name may hold any
// byte but '/' and NUL, so decoding cannot replace what is not UTF-8: each
// byte of a malformed sequence (its maximal subpart, the longest prefix that
// could still have begun a valid sequence, taken byte by byte) becomes the
// lone surrogate U+DC00 + byte, U+DC80..U+DCFF, and encoding turns those back
// into the same bytes, as Python's "surrogateescape" does. Valid UTF-8 never
// decodes to a surrogate, so every byte string survives the round trip.
// Other values that are no characters still become U+FFFD.
#include <cstdint>

#include "platform/utf8.h"

static_assert(sizeof(wchar_t) == 4, "the POSIX backend expects UTF-32 wide characters");

namespace tarvelin {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
// The escape of byte b (0x80..0xFF) is kEscapeBase + b.
constexpr char32_t kEscapeBase = 0xDC00;
constexpr char32_t kFirstEscape = 0xDC80, kLastEscape = 0xDCFF;

// Encodes `c` into `out` (room for 4 bytes); returns the count of bytes.
std::size_t EncodeUtf8(char32_t c, char* out) {
  if (c >= kFirstEscape && c <= kLastEscape) {
    out[0] = static_cast<char>(c - kEscapeBase);
    return 1;
  }
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

// Decodes one character from [*cursor, end) and advances *cursor past the
// bytes it used. A byte that does not begin a valid sequence, or the first
// byte of a maximal subpart, decodes as its escape and moves the cursor past
// that byte alone; the bytes after it then decode as escapes in turn, since
// none of them can begin a sequence either.
char32_t DecodeUtf8(const unsigned char** cursor, const unsigned char* end) {
  const unsigned char* p = *cursor;
  const unsigned char lead = *p++;
  *cursor = p;
  if (lead < 0x80) return lead;
  const char32_t escape = kEscapeBase + lead;

  // The count of continuation bytes, and the range of the first of them,
  // which excludes overlong forms, surrogates and values beyond U+10FFFF.
  int trailing = 0;
  unsigned char low = 0x80, high = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return escape;
  }

  for (int i = 0; i < trailing; ++i) {
    if (p == end || *p < low || *p > high) return escape;
    value = (value << 6) | (*p++ & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  *cursor = p;
  return value;
}

}  // namespace

std::size_t WideToUtf8(const wchar_t* wide, char* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return 0;
  out[0] = '\0';
  if (wide == nullptr) return 0;
  std::size_t used = 0;
  for (const wchar_t* p = wide;; ++p) {
    char bytes[4] = {'\0'};
    const std::size_t count = *p == L'\0' ? 1 : EncodeUtf8(static_cast<char32_t>(*p), bytes);
    if (capacity - used < count) {
      out[0] = '\0';
      return 0;
    }
    for (std::size_t i = 0; i < count; ++i) out[used++] = bytes[i];
    if (*p == L'\0') return used;
  }
}

std::string WideToUtf8(const std::wstring& wide) {
  std::string utf8;
  utf8.reserve(wide.size());
  for (const wchar_t c : wide) {
    char bytes[4];
    utf8.append(bytes, EncodeUtf8(static_cast<char32_t>(c), bytes));
  }
  return utf8;
}

std::wstring Utf8ToWide(const std::string& utf8) {
  std::wstring wide;
  wide.reserve(utf8.size());
  const auto* cursor = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = cursor + utf8.size();
  while (cursor != end) wide.push_back(static_cast<wchar_t>(DecodeUtf8(&cursor, end)));
  return wide;
}

bool PathFromUtf8(const char* utf8, std::wstring* wide) {
  if (utf8 == nullptr) return false;
  *wide = Utf8ToWide(utf8);
  return true;
}

}  // namespace tarvelin
