// SPDX-License-Identifier: MIT
// A failed operation in words, from the outcome that the library filled:
// which file, by its role, and what went wrong with it. The caller adds the
// command, the path given and the code's name and value.
#ifndef TARVELIN_CLI_FAILURE_WORDS_H_
#define TARVELIN_CLI_FAILURE_WORDS_H_

#include <cstdint>
#include <string>

#include "tarvelin/tarvelin.h"

namespace tarvelin::cli {

// Words for the outcome of a split, merge, verify or fingerprint of `path`
// (as the user typed it) that failed.
std::string DescribeFailure(const tarvelin_outcome& outcome, const std::string& path);

// The system's reason for a failure on a file, put plainly where the name is
// no file at all: an open of a folder or a device is refused with the same
// code as a permission.
std::string FileErrorWords(std::uint32_t error, const char* message, int file_kind);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_FAILURE_WORDS_H_
