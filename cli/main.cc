// SPDX-License-Identifier: MIT
// The tarvelin tool: split, merge, verify and fingerprint from the command
// line, on the library's internal API.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/help_text.h"
#include "cli/messages.h"

int main(int argc, char** argv) {
  using namespace tarvelin::cli;
  const std::vector<std::string> args = ArgumentsAfterProgramName(argc, argv);
  Invocation invocation;
  std::string error;
  if (!ParseArguments(args, &invocation, &error)) {
    PrintError(error);
    std::fprintf(stderr, "%s\n", kTryHelp);
    return kExitUsage;
  }
  AnchorBareFileNames(&invocation);
  switch (invocation.command) {
    case Command::kHelp:
      std::fputs(kHelpText, stdout);
      return kExitSuccess;
    case Command::kVersion:
      std::fputs(kVersionText, stdout);
      return kExitSuccess;
    case Command::kSplit: return RunSplit(invocation);
    case Command::kMerge: return RunMerge(invocation);
    case Command::kVerify: return RunVerify(invocation);
    case Command::kFingerprint: return RunFingerprint(invocation);
    case Command::kNone: break;
  }
  return kExitUsage;
}
