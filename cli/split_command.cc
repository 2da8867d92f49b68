// SPDX-License-Identifier: MIT
#include <string>

#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/operation_session.h"
#include "cli/set_names.h"
#include "cli/standard_output.h"

namespace tarvelin::cli {
namespace {

// "disk.img: cut into 3 pieces of at most 4095 MiB (disk.0 to disk.2),
// recorded in disk.DAT", and with --to or --keep what became of the medium's
// proof and of the source.
std::string Summary(const Invocation& invocation, const OperationSession& session,
                    const tarvelin_outcome& outcome) {
  const std::string& names = session.names();
  const std::int32_t pieces = outcome.pieces;
  std::string line = session.path() + ": cut into " + std::to_string(pieces) +
                     (pieces == 1 ? " piece" : " pieces") + " of at most " +
                     std::to_string(invocation.piece_mib) + " MiB (" +
                     PieceRange(names, 0, pieces - 1) + "), recorded in " + ManifestName(names);
  if (invocation.to_given) {
    line += outcome.read_back ? "; every piece and the manifest read back from the medium and "
                                "proved"
            : invocation.no_read_back ? "; the medium was not read back (--no-read-back)"
                                      : "; the medium was not read back";
  }
  if (invocation.keep) return line + "; the source was kept";
  return invocation.to_given ? line + "; the source was deleted" : line;
}

}  // namespace

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
  if (invocation.keep) options.flags |= TARVELIN_KEEP_SOURCE;
  // With --to the library reads the medium back unless told not to.
  if (invocation.no_read_back) options.flags |= TARVELIN_NO_READ_BACK;
  const ResultCode code = tarvelin_split(session.path().c_str(), &options, &session.outcome());
  session.Finish();
  if (code != RC_OK) return session.Fail(code);
  if (!invocation.quiet) PrintOut(Summary(invocation, session, session.outcome()));
  return kExitSuccess;
}

}  // namespace tarvelin::cli
