// SPDX-License-Identifier: MIT
// Turns the work of one operation into ProgressEvents for the caller's
// callback. Without a callback every member does nothing.
#ifndef TARVELIN_LIBRARY_PROGRESS_REPORTER_H_
#define TARVELIN_LIBRARY_PROGRESS_REPORTER_H_

#include <cstdint>

#include "digest/fingerprint.h"
#include "library/operations.h"

namespace tarvelin {

class ProgressReporter {
 public:
  explicit ProgressReporter(const OperationOptions& options);
  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;

  bool active() const { return callback_ != nullptr; }
  void SetTotals(std::uint64_t total_bytes, std::int32_t piece_count);
  // Starts a phase and reports it.
  void Enter(Phase phase, std::int32_t piece);
  // Counts `bytes` of work done in the current phase and reports it.
  void Advance(std::uint64_t bytes);
  // A sink for the fingerprint's reads, or null without a callback.
  const ByteProgress* byte_sink() const { return active() ? &sink_ : nullptr; }

 private:
  void Report() const;

  ProgressCallback callback_;
  void* context_;
  ProgressEvent event_;
  ByteProgress sink_;
};

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_PROGRESS_REPORTER_H_
