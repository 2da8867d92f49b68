// SPDX-License-Identifier: MIT
#include <string>

#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/operation_session.h"
#include "cli/standard_output.h"
#include "library/verify.h"

namespace tarvelin::cli {
namespace {

std::string PieceStateText(const PieceCheck& check) {
  switch (check.state) {
    case PieceState::kOk: return "OK";
    case PieceState::kFailed: return "FAILED";
    case PieceState::kMissing: return "MISSING";
    case PieceState::kUnreadable:
      return "FAILED open or read (" + SystemErrorWords(check.error) + ")";
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
    case WholeState::kNotChecked: break;
  }
  return "NOT CHECKED";
}

std::string ExistingText(const VerifyReport& report) {
  switch (report.existing) {
    case WholeState::kMatches: return "OK";
    case WholeState::kDiffers: return "FAILED";
    case WholeState::kUnreadable: return "FAILED open or read";
    default: break;
  }
  return "NOT CHECKED";
}

void PrintReport(const std::string& shown, const SplitSet& set, const VerifyReport& report) {
  for (const PieceCheck& check : report.pieces) {
    PrintOut(Shown(check.name) + ": " + PieceStateText(check));
  }
  for (const std::wstring& stale : report.unrecorded) {
    PrintOut(Shown(stale) + ": NOT RECORDED (a merge leaves it in place)");
  }
  if (report.joined != WholeState::kNotChecked) {
    PrintOut(shown + " (pieces joined): " + JoinedText(report, set));
  }
  if (report.file_exists && report.existing != WholeState::kNotChecked) {
    PrintOut(shown + " (existing file): " + ExistingText(report));
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
  } else if (report.file_exists) {
    PrintOut(shown + ": exists and matches the recorded fingerprint: a merge would leave it as "
                     "it is");
  } else {
    PrintOut(shown + ": a merge would succeed");
  }
  return kExitSuccess;
}

}  // namespace tarvelin::cli
