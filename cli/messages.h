// SPDX-License-Identifier: MIT
// What the tool says on the standard error stream, and the small texts that
// its messages are made of. Every line starts with the program's name, so
// that it can be told apart in a script's output, and is escaped as
// escaped_line.h says (then its first character is a backslash).
#ifndef TARVELIN_CLI_MESSAGES_H_
#define TARVELIN_CLI_MESSAGES_H_

#include <cstdint>
#include <string>

#include "library/result_codes.h"

namespace tarvelin::cli {

// "tarvelin: <text>"
void PrintError(const std::string& text);
// "tarvelin: warning: <text>"
void PrintWarning(const std::string& text);
// "tarvelin: <text>" for news that is neither; --quiet silences these.
void PrintNote(const std::string& text);

// " (RC_DIGEST_MISMATCH, 0xE0F00013)"
std::string CodeSuffix(ResultCode code);

// A Win32 last-error value in words ("permission denied"), as the platform
// reports failures on both systems.
std::string SystemErrorWords(std::uint32_t error);
// An errno value in words, for a fingerprint's stream that would not open.
std::string ErrnoWords(int error);

// A path as the bytes that name it (UTF-8, or on Linux whatever bytes the
// name holds), for a line that is escaped when it is printed.
std::string Shown(const std::wstring& path);

// A count of bytes for people: "314572800 bytes (300 MiB)".
std::string BytesText(std::uint64_t bytes);
// A short form with three significant digits: "300 MiB", "1.25 GiB",
// "19.5 KiB", "512 B".
std::string ShortBytes(std::uint64_t bytes);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_MESSAGES_H_
