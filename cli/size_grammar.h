// SPDX-License-Identifier: MIT
// The piece size as a person writes it: the grammar of the coreutils tools,
// with a plain number counting mebibytes.
//
//   4095        4095 MiB
//   512K 512KiB 512 x 1024 bytes        (K, M, G, T: powers of 1024)
//   4G   4GiB   4 x 1024^3 bytes
//   1000KB      1000 x 1000 bytes       (KB, MB, GB, TB: powers of 1000)
//
// Letters may be in either case. The size must come to a whole number of
// MiB, at least 1 and at most 2147483647 (what the split takes).
#ifndef TARVELIN_CLI_SIZE_GRAMMAR_H_
#define TARVELIN_CLI_SIZE_GRAMMAR_H_

#include <cstdint>
#include <string>

namespace tarvelin::cli {

// The default: the largest whole-MiB piece that a FAT32 volume can hold
// (its files stop at 4 GiB - 1 byte).
constexpr std::int32_t kDefaultPieceMiB = 4095;

// Pieces of this many MiB or more cannot be stored on FAT32.
constexpr std::int32_t kFat32LimitMiB = 4096;

// The accepted forms, for usage messages: lines of their own, each ended by
// a newline, to follow the line that says what was wrong.
extern const char kSizeForms[];

// Parses `text` into *mib. On failure returns false and says why in *error
// (without the accepted forms, which the caller adds).
bool ParseSize(const std::string& text, std::int32_t* mib, std::string* error);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_SIZE_GRAMMAR_H_
