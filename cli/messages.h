// SPDX-License-Identifier: MIT
// What the tool says on the standard error stream, and the small texts that
// its messages are made of. Every line starts with the program's name, so
// that it can be told apart in a script's output, and is escaped as
// escaped_line.h says (then its first character is a backslash).
#ifndef TARVELIN_CLI_MESSAGES_H_
#define TARVELIN_CLI_MESSAGES_H_

#include <cstdint>
#include <string>

#include "tarvelin/tarvelin.h"

namespace tarvelin::cli {

// "tarvelin: <text>"
void PrintError(const std::string& text);
// "tarvelin: warning: <text>"
void PrintWarning(const std::string& text);
// "tarvelin: <text>" for news that is neither; --quiet silences these.
void PrintNote(const std::string& text);

// " (RC_DIGEST_MISMATCH, 0xE0F00013)"
std::string CodeSuffix(ResultCode code);

// An errno value in words, for a write to standard output that failed.
std::string ErrnoWords(int error);

// A count of bytes for people: "314572800 bytes (300 MiB)".
std::string BytesText(std::uint64_t bytes);
// A short form with three significant digits: "300 MiB", "1.25 GiB",
// "19.5 KiB", "512 B".
std::string ShortBytes(std::uint64_t bytes);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_MESSAGES_H_
