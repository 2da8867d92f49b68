// SPDX-License-Identifier: MIT
// The system's error numbers in words, as an outcome carries them and the
// tool prints them: the same words on every system, since the platform
// reports Win32's numbers everywhere.
#ifndef TARVELIN_LIBRARY_SYSTEM_WORDS_H_
#define TARVELIN_LIBRARY_SYSTEM_WORDS_H_

#include <cstdint>
#include <string>

namespace tarvelin {

// "permission denied" for ERROR_ACCESS_DENIED; "system error N" for a number
// without words of its own; empty for 0.
std::string SystemErrorWords(std::uint32_t error);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_SYSTEM_WORDS_H_
