// SPDX-License-Identifier: MIT
#include <string>

#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/operation_session.h"
#include "cli/set_names.h"
#include "cli/standard_output.h"

namespace tarvelin::cli {

int RunSplit(const Invocation& invocation) {
  if (invocation.size_given && invocation.piece_mib >= kFat32LimitMiB) {
    PrintWarning("pieces of " + std::to_string(invocation.piece_mib) +
                 " MiB cannot be stored on a FAT32 volume, whose files stop at 4 GiB - 1 byte "
                 "(4095 MiB is the largest that fits)");
  }
  OperationSession session(invocation, "split");
  tarvelin_options& options = session.options();
  options.piece_size = static_cast<std::uint64_t>(invocation.piece_mib) * 1048576;
  if (!invocation.no_space_check) options.flags |= TARVELIN_CHECK_SPACE;
  const ResultCode code = tarvelin_split(session.path().c_str(), &options, &session.outcome());
  session.Finish();
  if (code != RC_OK) return session.Fail(code);
  if (!invocation.quiet) {
    const std::string& path = session.path();
    const std::int32_t pieces = session.outcome().pieces;
    PrintOut(path + ": cut into " + std::to_string(pieces) + (pieces == 1 ? " piece" : " pieces") +
             " of at most " + std::to_string(invocation.piece_mib) + " MiB (" +
             PieceRange(path, 0, pieces - 1) + "), recorded in " + ManifestName(path));
  }
  return kExitSuccess;
}

}  // namespace tarvelin::cli
