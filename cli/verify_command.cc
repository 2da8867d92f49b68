// SPDX-License-Identifier: MIT
#include <string>

#include "cli/commands.h"
#include "cli/failure_words.h"
#include "cli/messages.h"
#include "cli/operation_session.h"
#include "cli/set_names.h"
#include "cli/standard_output.h"

namespace tarvelin::cli {
namespace {

std::string PieceStateText(const tarvelin_piece& piece, const std::string& path) {
  switch (piece.state) {
    case TARVELIN_PIECE_OK: return "OK";
    case TARVELIN_PIECE_FAILED: return "FAILED";
    case TARVELIN_PIECE_MISSING: return "MISSING";
    case TARVELIN_PIECE_JOINED: return "JOINED (already in " + path + ")";
    case TARVELIN_PIECE_NOT_RECORDED: return "NOT RECORDED (a merge leaves it in place)";
    case TARVELIN_PIECE_UNREADABLE:
      return "FAILED open or read (" +
             FileErrorWords(piece.system_error, piece.system_message, piece.file_kind) + ")";
    default: break;
  }
  return "?";
}

std::string JoinedText(const tarvelin_outcome& outcome, const std::string& names) {
  switch (outcome.joined) {
    case TARVELIN_WHOLE_MATCHES:
      // Pieces recorded past a missing one, which the source did not need.
      if (outcome.joined_stop >= 0) {
        return "OK (the pieces before " + PieceName(names, outcome.joined_stop) +
               " make up the source; the records from there on are not needed)";
      }
      return "OK";
    case TARVELIN_WHOLE_DIFFERS:
      return outcome.source_recorded ? "FAILED" : "FAILED (no fingerprint recorded)";
    case TARVELIN_WHOLE_INCOMPLETE:
      return "INCOMPLETE (" + PieceName(names, outcome.joined_stop) + " is missing)";
    case TARVELIN_WHOLE_UNREADABLE:
      return "NOT PROVED (" + PieceName(names, outcome.joined_stop) + " cannot be read)";
    default: break;
  }
  return "NOT CHECKED";
}

// What a file left by a merge that stopped holds, and where a merge would
// go on: "PARTIAL (holds disk.0 to disk.1; a merge would go on from disk.2)".
std::string PartialText(const tarvelin_outcome& outcome, const std::string& names) {
  const std::int32_t joined = outcome.resume_from;
  const std::string holds =
      joined == 0 ? "holds no whole piece" : "holds " + PieceRange(names, 0, joined - 1);
  if (joined >= outcome.recorded) return "PARTIAL (" + holds + ", every recorded piece)";
  const std::string next = PieceName(names, joined);
  if (outcome.resume_cut == 0) {
    return "PARTIAL (" + holds + "; a merge would go on from " + next + ")";
  }
  return "PARTIAL (" + holds + " and the first " + std::to_string(outcome.resume_cut) +
         " bytes of " + next + "; a merge would cut those off and go on from " + next + ")";
}

std::string ExistingText(const tarvelin_outcome& outcome, const std::string& names) {
  switch (outcome.existing) {
    case TARVELIN_WHOLE_MATCHES: return "OK";
    case TARVELIN_WHOLE_DIFFERS:
      return "FAILED (not the pieces joined in order; a merge leaves it)";
    case TARVELIN_WHOLE_UNREADABLE: return "FAILED open or read";
    case TARVELIN_WHOLE_PARTIAL: return PartialText(outcome, names);
    case TARVELIN_WHOLE_NOT_OURS:
      return "IN THE WAY (a link, a file with other names, or another user's; a merge leaves "
             "it alone)";
    default: break;
  }
  return "NOT CHECKED";
}

std::string Verdict(const tarvelin_outcome& outcome, const std::string& path,
                    const std::string& names) {
  if (outcome.file_existed && !outcome.manifest_found) {
    return path + ": exists and has " + NoManifest(path, names) + ": a merge has nothing to do";
  }
  if (outcome.existing == TARVELIN_WHOLE_PARTIAL) {
    return path + ": a merge would go on from " + PieceName(names, outcome.resume_from) +
           " and succeed";
  }
  if (outcome.file_existed) {
    return path + ": exists and matches the recorded fingerprint: a merge would keep it and "
                  "delete the manifest and any pieces left beside it";
  }
  return path + ": a merge would succeed";
}

}  // namespace

// Each piece's verdict is printed as the library reaches it, so that a
// record of a million pieces needs no list of them.
int RunVerify(const Invocation& invocation) {
  OperationSession session(invocation, "verify");
  const std::string& path = session.path();
  const std::string& names = session.names();
  session.OnPiece([&path](const tarvelin_piece& piece) {
    PrintOut(std::string(piece.name) + ": " + PieceStateText(piece, path));
  });
  const ResultCode verdict =
      tarvelin_verify(path.c_str(), &session.options(), &session.outcome());
  session.Finish();

  const tarvelin_outcome& outcome = session.outcome();
  if (outcome.joined != TARVELIN_WHOLE_NOT_CHECKED) {
    PrintOut(path + " (pieces joined): " + JoinedText(outcome, names));
  }
  if (outcome.file_existed && outcome.existing != TARVELIN_WHOLE_NOT_CHECKED) {
    PrintOut(path + " (existing file): " + ExistingText(outcome, names));
  }
  if (verdict != RC_OK) return session.Fail(verdict, "a merge would fail: ");
  PrintOut(Verdict(outcome, path, names));
  // The pieces on a medium of their own are what is being checked there: a
  // whole file at the path, which a merge would keep, does not make a bad
  // set good.
  if (!invocation.piece_folder.empty() &&
      (!outcome.manifest_found || outcome.joined != TARVELIN_WHOLE_MATCHES)) {
    PrintError("verify " + path + ": the pieces in " + invocation.piece_folder +
               " do not make up the original" +
               (outcome.manifest_found ? "" : " (" + NoManifest(path, names) + ")"));
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace tarvelin::cli
