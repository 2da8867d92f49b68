// SPDX-License-Identifier: MIT
// A failure decided before it is told: what an operation learns first and
// tells later (a merge's failed proof, told once the piece before it is
// gone), or tells for another (a verify, foretelling the merge's answer).
// Operation::FailWith tells it as it stands.
#ifndef TARVELIN_LIBRARY_FAILURE_H_
#define TARVELIN_LIBRARY_FAILURE_H_

#include <cstdint>
#include <string>
#include <utility>

#include "library/failure_report.h"
#include "library/result_codes.h"

namespace tarvelin {

// What a failed proof tells beside its step (failure_report.h).
struct ProofDetails {
  bool source_unrecorded = false;
  std::int32_t missing_piece = -1;
  bool not_resumable = false;
  bool recorded_zero = false;
  bool record_malformed = false;
};

struct Failure {
  Failure() = default;
  Failure(ResultCode code, std::uint32_t error, FailedStep step, FileRole role = FileRole::kNone,
          std::wstring file = std::wstring(), std::int32_t piece = -1,
          const ProofDetails& details = ProofDetails())
      : code(code), error(error), step(step), role(role), file(std::move(file)), piece(piece),
        details(details) {}

  ResultCode code = RC_OK;  // RC_OK: nothing failed
  std::uint32_t error = 0;  // the last-error value to tell
  FailedStep step = FailedStep::kNone;
  FileRole role = FileRole::kNone;
  std::wstring file;
  std::int32_t piece = -1;
  ProofDetails details;
};

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_FAILURE_H_
