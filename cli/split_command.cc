// SPDX-License-Identifier: MIT
#include <string>

#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/operation_session.h"
#include "cli/space_check.h"
#include "cli/standard_output.h"
#include "library/operations.h"

namespace tarvelin::cli {

int RunSplit(const Invocation& invocation) {
  if (invocation.size_given && invocation.piece_mib >= kFat32LimitMiB) {
    PrintWarning("pieces of " + std::to_string(invocation.piece_mib) +
                 " MiB cannot be stored on a FAT32 volume, whose files stop at 4 GiB - 1 byte "
                 "(4095 MiB is the largest that fits)");
  }
  OperationSession session(invocation, "split");
  SplitSet& set = session.set();
  Platform& platform = session.platform();

  if (!invocation.no_space_check && session.names_fit() && platform.PathFileExists(set.path())) {
    std::string refusal;
    if (!EnoughSpace(session.path(), SplitNeeds(platform, set), "the pieces need", &refusal)) {
      return session.Refuse(refusal);
    }
  }

  const ResultCode code = Split(session.path().c_str(), invocation.piece_mib, session.options());
  session.Finish();
  if (code != RC_OK) return session.Fail(code);
  if (!invocation.quiet) {
    session.ReadRecord();
    const std::int32_t pieces = set.recorded_count();
    const std::string range = pieces == 1 ? Shown(set.PieceName(0))
                                          : Shown(set.PieceName(0)) + " to " +
                                                Shown(set.PieceName(pieces - 1));
    PrintOut(session.shown() + ": cut into " + std::to_string(pieces) +
             (pieces == 1 ? " piece" : " pieces") + " of at most " +
             std::to_string(invocation.piece_mib) + " MiB (" + range + "), recorded in " +
             Shown(set.manifest()));
  }
  return kExitSuccess;
}

}  // namespace tarvelin::cli
