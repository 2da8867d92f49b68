// SPDX-License-Identifier: MIT
#include <cstdio>
#include <string>

#include "cli/call_trace.h"
#include "cli/commands.h"
#include "cli/failure_words.h"
#include "cli/messages.h"
#include "cli/operation_watch.h"
#include "cli/space_check.h"
#include "library/operations.h"
#include "platform/console.h"
#include "platform/utf8.h"

namespace tarvelin::cli {

int RunSplit(const Invocation& invocation) {
  const std::string& shown = invocation.files[0];
  const std::string prefix = "split " + shown + ": ";
  if (invocation.size_given && invocation.piece_mib >= kFat32LimitMiB) {
    PrintWarning("pieces of " + std::to_string(invocation.piece_mib) +
                 " MiB cannot be stored on a FAT32 volume, whose files stop at 4 GiB - 1 byte "
                 "(4095 MiB is the largest that fits)");
  }
  const FileNames names = NamesOf(Utf8ToWide(shown));
  CallTrace trace(DefaultPlatform());

  if (!invocation.no_space_check && names.valid && trace.PathFileExists(names.path.c_str())) {
    std::string refusal;
    if (!EnoughSpace(names.path, SplitNeeds(trace, names), "the pieces need", &refusal)) {
      PrintError(prefix + refusal);
      return kExitFailure;
    }
  }

  ProgressDisplay display(ShowsProgress(invocation), stderr, StderrColumns());
  OperationWatch watch(display);
  OperationOptions options;
  options.platform = &trace;
  watch.Attach(&options);
  const ResultCode code = Split(names.path.c_str(), invocation.piece_mib, options);
  display.Finish();

  if (code != RC_OK) {
    const Outcome outcome{&names, &trace, &watch, false};
    PrintError(prefix + DescribeSplitFailure(code, outcome) + CodeSuffix(code));
    return kExitFailure;
  }
  if (!invocation.quiet) {
    const std::int32_t pieces = RecordedPieceCount(trace, names);
    const std::string range = pieces == 1 ? Shown(names.Piece(0))
                                          : Shown(names.Piece(0)) + " to " +
                                                Shown(names.Piece(pieces - 1));
    std::printf("%s: cut into %d piece%s of at most %d MiB (%s), recorded in %s\n",
                shown.c_str(), pieces, pieces == 1 ? "" : "s", invocation.piece_mib,
                range.c_str(), Shown(names.manifest).c_str());
  }
  return kExitSuccess;
}

}  // namespace tarvelin::cli
