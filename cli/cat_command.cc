// SPDX-License-Identifier: MIT
// cat: the original's bytes on standard output, straight from its pieces,
// each piece proved as it goes out and the whole at the end (tarvelin_cat).
// The bytes go out past stdio (raw_output.h), and a write that fails is
// told once, here, with the system's reason.
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/help_text.h"
#include "cli/messages.h"
#include "cli/operation_session.h"
#include "cli/raw_output.h"
#include "cli/terminal.h"
#include "tarvelin/tarvelin.h"

namespace tarvelin::cli {
namespace {


}  // namespace

int RunCat(const Invocation& invocation) {
  const std::string prefix = "cat " + invocation.files[0] + ": ";
  // As compressors do: bytes of a disk image are nothing to show on a screen.
  if (!invocation.force && StdoutIsTerminal()) {
    PrintError(prefix + "standard output is a terminal, and the original's bytes are not for a "
                        "screen: send them to a file or a pipe, or give -f to write them there");
    std::fprintf(stderr, "%s\n", kTryHelp);
    return kExitUsage;
  }
  PrepareRawOutput();
  OperationSession session(invocation, "cat");
  RawOutput out;
  session.OnOutput(
      [&out](const void* bytes, std::size_t size) { return WriteRaw(bytes, size, &out); });
  const ResultCode code =
      tarvelin_cat(session.path().c_str(), &session.options(), &session.outcome());
  session.Finish();
  if (code == RC_OK) return kExitSuccess;
  if (out.failed) {
    PrintError(prefix + "writing to standard output failed after " + std::to_string(out.written) +
               " bytes: " + out.reason + CodeSuffix(code));
    return kExitFailure;
  }
  return session.Fail(code);
}

}  // namespace tarvelin::cli
