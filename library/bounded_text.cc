// SPDX-License-Identifier: MIT
#include "library/bounded_text.h"

namespace tarvelin {

std::size_t BoundedLength(const wchar_t* text, std::size_t limit) {
  std::size_t length = 0;
  while (length < limit && text[length] != L'\0') ++length;
  return length;
}

bool AppendText(wchar_t* buffer, std::size_t capacity, const wchar_t* text) {
  const std::size_t used = BoundedLength(buffer, capacity);
  const std::size_t extra = BoundedLength(text, capacity);
  if (used + extra + 1 > capacity) return false;
  for (std::size_t i = 0; i < extra; ++i) buffer[used + i] = text[i];
  buffer[used + extra] = L'\0';
  return true;
}

std::size_t DecimalDigits(std::uint64_t value) {
  std::size_t digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

bool AppendDecimal(wchar_t* buffer, std::size_t capacity, std::int32_t value) {
  wchar_t digits[16] = {};
  std::size_t at = sizeof(digits) / sizeof(digits[0]) - 1;
  // Widened first, so that the most negative value has a magnitude.
  const std::int64_t wide = value;
  std::uint64_t magnitude = static_cast<std::uint64_t>(wide < 0 ? -wide : wide);
  do {
    digits[--at] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (wide < 0) digits[--at] = L'-';
  return AppendText(buffer, capacity, digits + at);
}

}  // namespace tarvelin
