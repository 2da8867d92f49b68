// SPDX-License-Identifier: MIT
// Names and texts are built into fixed buffers of the caller's; these never
// write past the buffer and say when something does not fit.
#ifndef TARVELIN_LIBRARY_BOUNDED_TEXT_H_
#define TARVELIN_LIBRARY_BOUNDED_TEXT_H_

#include <cstddef>
#include <cstdint>

namespace tarvelin {

// Every name and text buffer holds this many characters, terminator included.
constexpr std::size_t kNameCapacity = 260;

// Length of the terminated `text`, counting at most `limit` characters.
std::size_t BoundedLength(const wchar_t* text, std::size_t limit);

// Appends the terminated `text` to the terminated string in `buffer` of
// `capacity` characters. Returns false, leaving `buffer` unchanged, when the
// result and its terminator would not fit.
bool AppendText(wchar_t* buffer, std::size_t capacity, const wchar_t* text);

// Appends `value` in decimal, without sign padding or leading zeros.
bool AppendDecimal(wchar_t* buffer, std::size_t capacity, std::int32_t value);

// Number of decimal digits of a value of 0 or more.
std::size_t DecimalDigits(std::uint64_t value);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_BOUNDED_TEXT_H_
