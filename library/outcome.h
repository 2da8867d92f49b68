// SPDX-License-Identifier: MIT
// What an operation told, in the host's terms: its report, facts and verify
// report as a tarvelin_outcome, with the public header's numbers.
#ifndef TARVELIN_LIBRARY_OUTCOME_H_
#define TARVELIN_LIBRARY_OUTCOME_H_

#include "library/failure_report.h"
#include "library/operations.h"
#include "library/verify.h"
#include "platform/platform.h"
#include "tarvelin/tarvelin.h"

namespace tarvelin {

// The outcome of an operation that returned `code`; `verify` may be null.
tarvelin_outcome MakeOutcome(Platform& platform, ResultCode code, const FailureReport& failure,
                             const OperationFacts& facts, const VerifyReport* verify);

// What stands at `name`, as a TARVELIN_KIND_ value.
int KindAt(Platform& platform, const wchar_t* name);

// `text` as UTF-8 into `out` of `size` bytes, cut at a character's start
// when it does not fit, and terminated.
void CopyUtf8(const std::string& text, char* out, std::size_t size);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_OUTCOME_H_
