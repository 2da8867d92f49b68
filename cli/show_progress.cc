// SPDX-License-Identifier: MIT
#include "cli/commands.h"
#include "cli/terminal.h"

namespace tarvelin::cli {

bool ShowsProgress(const Invocation& invocation) {
  return !invocation.quiet && StderrIsTerminal();
}

}  // namespace tarvelin::cli
