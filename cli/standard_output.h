// SPDX-License-Identifier: MIT
// The tool's standard output, checked. What a command prints there (the
// fingerprints, the verify report, the summaries) is its result; if it is
// lost to a full disk or a closed stream, the command has failed, as with
// md5sum: the tool says so on stderr and exits 1.
#ifndef TARVELIN_CLI_STANDARD_OUTPUT_H_
#define TARVELIN_CLI_STANDARD_OUTPUT_H_

#include <string>

namespace tarvelin::cli {

// Prints `line` escaped (see escaped_line.h) and a newline.
void PrintOut(const std::string& line);

// Prints `text` as it stands: fixed texts of several lines, such as --help.
void PrintOutText(const char* text);

// Writes out what stdout holds, so that it comes before a line on stderr.
void FlushOut();

// Flushes and closes stdout, the last thing the tool does. When any write
// to it failed, prints "tarvelin: write error" (with the reason when it is
// known) on stderr and returns kExitFailure in place of a success; any
// other `exit_code` is returned as it is.
int FinishOut(int exit_code);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_STANDARD_OUTPUT_H_
