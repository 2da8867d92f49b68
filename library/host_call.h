// SPDX-License-Identifier: MIT
// One call of a public function (tarvelin.h), between the host's structs and
// an operation: the host's options read no further than the size it gave and
// checked, its callbacks adapted to the operation's, and what the operation
// told turned into the host's outcome. Nothing in a host's struct is trusted
// past its size field, and an outcome too small for this version's first
// fields is never written.
#ifndef TARVELIN_LIBRARY_HOST_CALL_H_
#define TARVELIN_LIBRARY_HOST_CALL_H_

#include <cstdint>
#include <string>

#include "library/failure_report.h"
#include "library/operations.h"
#include "platform/platform_errors.h"
#include "library/verify.h"
#include "tarvelin/tarvelin.h"

namespace tarvelin {

class HostCall {
 public:
  HostCall(const tarvelin_options* options, tarvelin_outcome* outcome);
  HostCall(const HostCall&) = delete;
  HostCall& operator=(const HostCall&) = delete;

  // Checks the structs and takes the path. RC_OK, or the refusal
  // (RC_INVALID_ARGUMENT, RC_INVALID_PATH) as Finish returns it.
  ResultCode Begin(const char* path);
  ResultCode Begin(const wchar_t* path);
  // For a stream of the host's, which has no path.
  ResultCode BeginStream() { return CheckStructs(); }

  const wchar_t* path() const { return path_.c_str(); }
  // The split's largest piece in bytes: the host's, or 4095 MiB.
  std::uint64_t piece_limit() const;
  // Whether the host set any of `flags`.
  bool Asked(std::uint32_t flags) const { return (host_.flags & flags) != 0; }
  // The host's stream target (tarvelin_cat), and the data it asked for.
  tarvelin_write_callback output() const { return host_.output; }
  void* user_data() const { return host_.user_data; }
  // The options for the operation; `flags` are added to the host's.
  const OperationOptions& options(std::uint32_t flags = 0);

  // Fills the host's outcome, when it asked for one, and returns `code`.
  ResultCode Finish(ResultCode code, const VerifyReport* verify = nullptr);
  // Refuses the call before any operation runs, as Finish answers.
  ResultCode Refuse(ResultCode code, FailedStep step, std::uint32_t error);
  // An option out of range, or one that this function does not take.
  ResultCode RefuseOptions() {
    return Refuse(RC_INVALID_ARGUMENT, FailedStep::kBadOptions, kErrorInvalidParameter);
  }

 private:
  ResultCode CheckStructs();
  static bool OnProgress(const ProgressEvent& event, void* self);
  static void OnPiece(const PieceCheck& piece, void* self);

  tarvelin_options host_{};  // the host's options, zero past its size
  tarvelin_outcome* outcome_;
  bool checked_ = false;
  std::wstring path_;
  std::wstring piece_folder_;
  FailureReport failure_;
  OperationFacts facts_;
  OperationOptions options_;
  std::string piece_name_;   // the piece being told, in UTF-8
  std::string piece_words_;  // and its system error's words
};

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_HOST_CALL_H_
