// SPDX-License-Identifier: MIT
#include "library/failure_report.h"

#include "platform/platform_errors.h"

namespace tarvelin {

void ReportFailure(FailureReport* report, FailedStep step, FileRole role, const wchar_t* file,
                   std::uint32_t system_error, std::int32_t piece) {
  if (report == nullptr) return;
  *report = FailureReport();
  report->step = step;
  report->role = role;
  // A part of a split named where the file to rebuild is meant: the piece
  // it is, with the manifest as the file.
  const bool has_piece = role == FileRole::kPiece || step == FailedStep::kPartOfASplit;
  report->piece = has_piece ? piece : -1;
  report->file = file != nullptr ? file : L"";
  report->system_error = system_error;
  report->sharing_conflict = system_error == kErrorSharingViolation;
}

}  // namespace tarvelin
