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

// What the user asked for, as far as the words of a failure depend on it.
struct Request {
  std::string piece_folder;    // --to or --from; empty: the pieces beside the file
  std::int32_t piece_mib = 0;  // split: the largest piece asked for
  bool keep = false;           // --keep
  bool streamed = false;       // cat: the bytes go out as they are proved
};

// Words for the outcome of a split, merge, verify, cat or fingerprint of
// `path` (as the user typed it) that failed.
std::string DescribeFailure(const tarvelin_outcome& outcome, const std::string& path,
                            const Request& request = Request());

// The system's reason for a failure on a file, put plainly where the name is
// no file at all: an open of a folder or a device is refused with the same
// code as a permission.
std::string FileErrorWords(std::uint32_t error, const char* message, int file_kind);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_FAILURE_WORDS_H_
