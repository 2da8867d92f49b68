// SPDX-License-Identifier: MIT
// The tool's arguments as UTF-8 text, as the parser takes them. On POSIX they
// are argv's bytes as they are. On Windows argv holds the arguments in the
// process's ANSI code page, which cannot spell every file name, so they are
// read again from the UTF-16 command line.
#ifndef TARVELIN_CLI_COMMAND_LINE_H_
#define TARVELIN_CLI_COMMAND_LINE_H_

#include <string>
#include <vector>

#include "cli/arguments.h"

namespace tarvelin::cli {

// The arguments after the program's name. On Windows this also makes a
// console show the tool's UTF-8 output as UTF-8 until the program exits (a
// file or a pipe receives the same bytes as on POSIX).
std::vector<std::string> ArgumentsAfterProgramName(int argc, char** argv);


}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_COMMAND_LINE_H_
