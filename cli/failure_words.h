// SPDX-License-Identifier: MIT
// A failed operation in words, from the report that the operation itself
// filled: which file, by its role, and what went wrong with it. The caller
// adds the command, the path given and the code's name and value.
#ifndef TARVELIN_CLI_FAILURE_WORDS_H_
#define TARVELIN_CLI_FAILURE_WORDS_H_

#include <string>

#include "library/failure_report.h"
#include "library/result_codes.h"
#include "library/split_set.h"
#include "platform/platform.h"

namespace tarvelin::cli {

struct FailureContext {
  Platform* platform;  // to look at what lies at a name that could not be used
  const SplitSet* set;
  bool file_existed = false;  // merge: a file was at the path before it ran
};

// Words for `code`, from `report`. Split, merge and verify all use it.
std::string DescribeFailure(ResultCode code, const FailureReport& report,
                            const FailureContext& context);

// The system's reason for a failure on `file`, put plainly where the name is
// no file at all: an open of a folder or a device is refused with the same
// code as a permission.
std::string FileErrorWords(Platform& platform, const std::wstring& file, std::uint32_t error);

// The reason that every operation gives for RC_INVALID_PATH.
extern const char kTooLongWords[];

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_FAILURE_WORDS_H_
