// SPDX-License-Identifier: MIT
// A failed operation in words: which file, and what went wrong with it. The
// caller adds the command, the path given and the code's name and value.
#ifndef TARVELIN_CLI_FAILURE_WORDS_H_
#define TARVELIN_CLI_FAILURE_WORDS_H_

#include <string>

#include "cli/call_trace.h"
#include "cli/file_names.h"
#include "cli/operation_watch.h"
#include "library/result_codes.h"
#include "library/verify.h"

namespace tarvelin::cli {

// What the tool knew of an operation when it stopped.
struct Outcome {
  const FileNames* names;
  CallTrace* trace;             // its calls; also reads the manifest left behind
  const OperationWatch* watch;  // its progress events
  bool file_existed = false;    // merge: a file was at the path before it ran
};

std::string DescribeSplitFailure(ResultCode code, const Outcome& outcome);
std::string DescribeMergeFailure(ResultCode code, const Outcome& outcome);
// Why a merge would fail, from what the verify found.
std::string DescribeVerifyVerdict(ResultCode code, const FileNames& names,
                                  const VerifyReport& report);

// The reason that every operation gives for RC_INVALID_PATH.
extern const char kTooLongWords[];

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_FAILURE_WORDS_H_
