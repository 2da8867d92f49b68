// SPDX-License-Identifier: MIT
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/failure_words.h"
#include "cli/messages.h"
#include "cli/operation_watch.h"
#include "library/verify.h"
#include "platform/console.h"
#include "platform/utf8.h"

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

std::string JoinedText(const VerifyReport& report, const FileNames& names) {
  switch (report.joined) {
    case WholeState::kMatches: return "OK";
    case WholeState::kDiffers:
      return report.source_fingerprint_recorded ? "FAILED" : "FAILED (no fingerprint recorded)";
    case WholeState::kIncomplete:
      return "INCOMPLETE (" + Shown(names.Piece(report.joined_stop)) + " is missing)";
    case WholeState::kUnreadable:
      return "NOT PROVED (" + Shown(names.Piece(report.joined_stop)) + " cannot be read)";
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

void PrintReport(const std::string& shown, const FileNames& names, const VerifyReport& report) {
  for (const PieceCheck& check : report.pieces) {
    std::printf("%s: %s\n", Shown(check.name).c_str(), PieceStateText(check).c_str());
  }
  for (const std::wstring& stale : report.unrecorded) {
    std::printf("%s: NOT RECORDED (a merge leaves it in place)\n", Shown(stale).c_str());
  }
  if (report.joined != WholeState::kNotChecked) {
    std::printf("%s (pieces joined): %s\n", shown.c_str(), JoinedText(report, names).c_str());
  }
  if (report.file_exists && report.existing != WholeState::kNotChecked) {
    std::printf("%s (existing file): %s\n", shown.c_str(), ExistingText(report).c_str());
  }
}

}  // namespace

int RunVerify(const Invocation& invocation) {
  const std::string& shown = invocation.files[0];
  const FileNames names = NamesOf(Utf8ToWide(shown));

  ProgressDisplay display(ShowsProgress(invocation), stderr, StderrColumns());
  OperationWatch watch(display);
  OperationOptions options;
  watch.Attach(&options);
  VerifyReport report;
  const ResultCode verdict = Verify(names.path.c_str(), options, &report);
  display.Finish();

  PrintReport(shown, names, report);
  if (verdict != RC_OK) {
    PrintError("verify " + shown + ": a merge would fail: " +
               DescribeVerifyVerdict(verdict, names, report) + CodeSuffix(verdict));
    return kExitFailure;
  }
  if (report.file_exists && !report.manifest_found) {
    std::printf("%s: exists and has no manifest beside it: a merge has nothing to do\n",
                shown.c_str());
  } else if (report.file_exists) {
    std::printf("%s: exists and matches the recorded fingerprint: a merge would leave it as it "
                "is\n", shown.c_str());
  } else {
    std::printf("%s: a merge would succeed\n", shown.c_str());
  }
  return kExitSuccess;
}

}  // namespace tarvelin::cli
