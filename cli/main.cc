// SPDX-License-Identifier: MIT
// The tarvelin tool: split, merge, verify, cat and fingerprint from the
// command line, on the library's public API.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/help_text.h"
#include "cli/messages.h"
#include "cli/standard_output.h"

namespace {

using namespace tarvelin::cli;

int Run(const std::vector<std::string>& args) {
  Invocation invocation;
  std::string error;
  if (!ParseArguments(args, &invocation, &error)) {
    // The first line may quote what was typed and is escaped; the lines
    // after it are the tool's own.
    const std::size_t end = error.find('\n');
    PrintError(error.substr(0, end));
    if (end != std::string::npos) std::fputs(error.c_str() + end + 1, stderr);
    std::fprintf(stderr, "%s\n", kTryHelp);
    return kExitUsage;
  }
  switch (invocation.command) {
    case Command::kHelp:
      PrintOutText(kHelpText);
      return kExitSuccess;
    case Command::kVersion:
      PrintOutText(kVersionText);
      return kExitSuccess;
    case Command::kSplit: return RunSplit(invocation);
    case Command::kMerge: return RunMerge(invocation);
    case Command::kVerify: return RunVerify(invocation);
    case Command::kCat: return RunCat(invocation);
    case Command::kFingerprint: return RunFingerprint(invocation);
    case Command::kNone: break;
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  return FinishOut(Run(ArgumentsAfterProgramName(argc, argv)));
}
