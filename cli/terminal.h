// SPDX-License-Identifier: MIT
// What the tool needs to know about the terminal it writes to.
#ifndef TARVELIN_CLI_TERMINAL_H_
#define TARVELIN_CLI_TERMINAL_H_

namespace tarvelin::cli {

// True when the standard error stream goes to a terminal (a console window
// on Windows), where a line redrawn in place reads as progress; false for a
// file or a pipe, where it would only be noise.
bool StderrIsTerminal();

// The same of the standard output stream: cat refuses to pour bytes on a
// terminal unless forced.
bool StdoutIsTerminal();

// The width in columns of the terminal behind the standard error stream, or
// 0 when it is not a terminal or does not say.
int StderrColumns();

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_TERMINAL_H_
