// SPDX-License-Identifier: MIT
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/operation_session.h"
#include "cli/set_names.h"
#include "cli/standard_output.h"

namespace tarvelin::cli {
namespace {

std::string Summary(const OperationSession& session, bool keep, bool pieces_left) {
  const std::string& path = session.path();
  const tarvelin_outcome& outcome = session.outcome();
  if (outcome.file_existed && !outcome.manifest_found) {
    return path + " already exists and has " + NoManifest(path, session.names()) +
           ": nothing to merge";
  }
  const std::string manifest = ManifestName(session.names());
  if (outcome.tidied && keep) {
    return path + " already exists and matches the recorded fingerprint of the source; the "
                  "manifest " + manifest + " and the pieces were kept";
  }
  if (outcome.tidied) {
    return path + " already exists and matches the recorded fingerprint of the source; the "
                  "manifest " + manifest +
           (pieces_left ? " and the pieces beside it that held its bytes were deleted"
                        : " and any pieces left beside it were deleted");
  }
  const std::int32_t already = outcome.resumed_from > 0 ? outcome.resumed_from : 0;
  const std::int32_t joined = already + outcome.pieces;
  std::string how = ", each and the whole proved against " + manifest;
  if (already > 0) {
    how = ", the first " + std::to_string(already) + " already joined in it by an earlier merge" +
          how;
  } else if (outcome.file_existed) {
    how = ", going on from what an earlier merge left in it" + how;
  }
  return path + ": rebuilt from " + std::to_string(joined) + (joined == 1 ? " piece" : " pieces") +
         how + (keep ? "; the pieces and the manifest were kept" : "");
}

}  // namespace

int RunMerge(const Invocation& invocation) {
  OperationSession session(invocation, "merge");
  tarvelin_options& options = session.options();
  if (!invocation.no_space_check) options.flags |= TARVELIN_CHECK_SPACE;
  if (invocation.keep) options.flags |= TARVELIN_KEEP_PIECES;
  // Piece files beyond the record are never taken, nor, when the merge only
  // tidies, one whose bytes are not its record's; the user hears of each
  // whatever becomes of the merge, after it.
  std::vector<std::string> left;
  session.OnPiece([&left](const tarvelin_piece& piece) {
    const std::string name = piece.name;
    if (piece.state == TARVELIN_PIECE_NOT_RECORDED) {
      left.push_back(name + " in place: the manifest does not record it");
    } else if (piece.state == TARVELIN_PIECE_FAILED) {
      left.push_back(name + " in place: its bytes are not the ones the manifest records");
    } else if (piece.state == TARVELIN_PIECE_UNREADABLE) {
      left.push_back(name + " in place: it could not be read");
    }
  });
  const ResultCode code = tarvelin_merge(session.path().c_str(), &options, &session.outcome());
  session.Finish();
  for (const std::string& why : left) PrintWarning(session.prefix() + "left " + why);
  if (code != RC_OK) return session.Fail(code);
  if (!invocation.quiet) PrintOut(Summary(session, invocation.keep, !left.empty()));
  return kExitSuccess;
}

}  // namespace tarvelin::cli
