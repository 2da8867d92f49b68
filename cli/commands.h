// SPDX-License-Identifier: MIT
// The tool's commands. Each takes the parsed command line and returns the
// process's exit code.
#ifndef TARVELIN_CLI_COMMANDS_H_
#define TARVELIN_CLI_COMMANDS_H_

#include "cli/arguments.h"

namespace tarvelin::cli {

enum ExitCode : int {
  kExitSuccess = 0,
  kExitFailure = 1,  // the operation or the verification failed
  kExitUsage = 2,    // the command line was wrong
};

int RunSplit(const Invocation& invocation);
int RunMerge(const Invocation& invocation);
int RunVerify(const Invocation& invocation);
int RunCat(const Invocation& invocation);
int RunFingerprint(const Invocation& invocation);

// Whether progress goes to the terminal: only when stderr is one and
// --quiet was not given (and, for cat, stdout is not a terminal too).
bool ShowsProgress(const Invocation& invocation);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_COMMANDS_H_
