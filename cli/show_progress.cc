// SPDX-License-Identifier: MIT
#include "cli/commands.h"
#include "cli/terminal.h"

namespace tarvelin::cli {

bool ShowsProgress(const Invocation& invocation) {
  // A cat forced to write to a terminal would have its bytes and the line
  // garble each other there.
  if (invocation.command == Command::kCat && StdoutIsTerminal()) return false;
  return !invocation.quiet && StderrIsTerminal();
}

}  // namespace tarvelin::cli
