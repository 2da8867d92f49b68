// SPDX-License-Identifier: MIT
#include <string>

#include "cli/commands.h"
#include "cli/failure_words.h"
#include "cli/messages.h"
#include "cli/operation_session.h"
#include "cli/standard_output.h"
#include "library/verify.h"

namespace tarvelin::cli {
namespace {

std::string PieceStateText(const PieceCheck& check, const std::string& shown) {
  Platform& platform = DefaultPlatform();
  switch (check.state) {
    case PieceState::kOk: return "OK";
    case PieceState::kFailed: return "FAILED";
    case PieceState::kMissing: return "MISSING";
    case PieceState::kJoined: return "JOINED (already in " + shown + ")";
    case PieceState::kUnreadable:
      return "FAILED open or read (" + FileErrorWords(platform, check.name, check.error) + ")";
  }
  return "?";
}

std::string JoinedText(const VerifyReport& report, const SplitSet& set) {
  switch (report.joined) {
    case WholeState::kMatches:
      // Pieces recorded past a missing one, which the source did not need.
      if (report.joined_stop >= 0) {
        return "OK (the pieces before " + Shown(set.PieceName(report.joined_stop)) +
               " make up the source; the records from there on are not needed)";
      }
      return "OK";
    case WholeState::kDiffers:
      return report.source_fingerprint_recorded ? "FAILED" : "FAILED (no fingerprint recorded)";
    case WholeState::kIncomplete:
      return "INCOMPLETE (" + Shown(set.PieceName(report.joined_stop)) + " is missing)";
    case WholeState::kUnreadable:
      return "NOT PROVED (" + Shown(set.PieceName(report.joined_stop)) + " cannot be read)";
    case WholeState::kNotChecked:
    case WholeState::kPartial:
    case WholeState::kNotOurs: break;
  }
  return "NOT CHECKED";
}

// What a file left by a merge that stopped holds, and where a merge would
// go on: "PARTIAL (holds disk.0 to disk.1; a merge would go on from disk.2)".
std::string PartialText(const VerifyReport& report, const SplitSet& set) {
  const std::int32_t joined = report.resume_from;
  std::string holds = joined == 0   ? "holds no whole piece"
                      : joined == 1 ? "holds " + Shown(set.PieceName(0))
                                    : "holds " + Shown(set.PieceName(0)) + " to " +
                                          Shown(set.PieceName(joined - 1));
  if (joined >= static_cast<std::int32_t>(report.pieces.size())) {
    return "PARTIAL (" + holds + ", every recorded piece)";
  }
  const std::string next = Shown(set.PieceName(joined));
  if (report.resume_cut == 0) {
    return "PARTIAL (" + holds + "; a merge would go on from " + next + ")";
  }
  return "PARTIAL (" + holds + " and the first " + std::to_string(report.resume_cut) +
         " bytes of " + next + "; a merge would cut those off and go on from " + next + ")";
}

std::string ExistingText(const VerifyReport& report, const SplitSet& set) {
  switch (report.existing) {
    case WholeState::kMatches: return "OK";
    case WholeState::kDiffers: return "FAILED (not the pieces joined in order; a merge leaves it)";
    case WholeState::kUnreadable: return "FAILED open or read";
    case WholeState::kPartial: return PartialText(report, set);
    case WholeState::kNotOurs:
      return "IN THE WAY (a link, a file with other names, or another user's; a merge leaves "
             "it alone)";
    default: break;
  }
  return "NOT CHECKED";
}

void PrintReport(const std::string& shown, const SplitSet& set, const VerifyReport& report) {
  for (const PieceCheck& check : report.pieces) {
    PrintOut(Shown(check.name) + ": " + PieceStateText(check, shown));
  }
  for (const std::wstring& stale : report.unrecorded) {
    PrintOut(Shown(stale) + ": NOT RECORDED (a merge leaves it in place)");
  }
  if (report.joined != WholeState::kNotChecked) {
    PrintOut(shown + " (pieces joined): " + JoinedText(report, set));
  }
  if (report.file_exists && report.existing != WholeState::kNotChecked) {
    PrintOut(shown + " (existing file): " + ExistingText(report, set));
  }
}

}  // namespace

int RunVerify(const Invocation& invocation) {
  OperationSession session(invocation, "verify");
  const int refused = session.RefuseWhatIsNoFileToRebuild();
  if (refused >= 0) return refused;
  VerifyReport report;
  const ResultCode verdict = Verify(session.path().c_str(), session.options(), &report);
  session.Finish();

  const std::string& shown = session.shown();
  PrintReport(shown, session.set(), report);
  if (verdict != RC_OK) return session.Fail(verdict, report.file_exists, "a merge would fail: ");
  if (report.file_exists && !report.manifest_found) {
    PrintOut(shown + ": exists and has no manifest beside it: a merge has nothing to do");
  } else if (report.existing == WholeState::kPartial) {
    PrintOut(shown + ": a merge would go on from " +
             Shown(session.set().PieceName(report.resume_from)) + " and succeed");
  } else if (report.file_exists) {
    PrintOut(shown + ": exists and matches the recorded fingerprint: a merge would keep it and "
                     "delete the manifest and any pieces left beside it");
  } else {
    PrintOut(shown + ": a merge would succeed");
  }
  return kExitSuccess;
}

}  // namespace tarvelin::cli
