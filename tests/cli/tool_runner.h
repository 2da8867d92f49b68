// SPDX-License-Identifier: MIT
// Runs the built tarvelin tool in a real process, as a user or a script
// would, and collects what it printed and how it ended.
#ifndef TARVELIN_TESTS_CLI_TOOL_RUNNER_H_
#define TARVELIN_TESTS_CLI_TOOL_RUNNER_H_

#include <string>
#include <vector>

namespace tarvelin::testing {

struct ToolRun {
  int exit_code = -1;  // -1: it did not exit normally
  std::string out;
  std::string err;
};

// The built binary.
const char* ToolPath();

// Runs the tool with `args`; its standard input is empty, its standard
// output and error go to files (so neither is a terminal).
ToolRun RunTool(const std::vector<std::string>& args);

// Runs `command` with /bin/sh -c, in the same way.
ToolRun RunShell(const std::string& command);

// Runs the tool with `args` under a pseudo-terminal (with script(1)), so
// that its standard error is a terminal; both streams land in `out`.
ToolRun RunToolOnTerminal(const std::vector<std::string>& args);

// `text` quoted for /bin/sh.
std::string ShellQuoted(const std::string& text);

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_CLI_TOOL_RUNNER_H_
