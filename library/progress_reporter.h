// SPDX-License-Identifier: MIT
// Turns the work of one operation into ProgressEvents for the caller's
// callback, no more often than the caller asked, and keeps the caller's
// wish to stop: the callback's answer, or the cancellation flag. Without a
// callback or a flag every member does little.
#ifndef TARVELIN_LIBRARY_PROGRESS_REPORTER_H_
#define TARVELIN_LIBRARY_PROGRESS_REPORTER_H_

#include <chrono>
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
  // Counts `bytes` of work done in the current phase and reports it. False
  // when the caller asked to stop.
  bool Advance(std::uint64_t bytes);
  // Reports the last state, when a report of it was held back by the
  // interval: the operation ends, and a display shows where it ended.
  void Finish();
  // Whether the caller asked to stop, by the callback's answer or the flag.
  bool cancelled() const;
  // A sink for the fingerprint's reads; null when there is nothing to tell
  // and nothing to ask.
  const ByteProgress* byte_sink() const {
    return active() || cancel_ != nullptr ? &sink_ : nullptr;
  }

 private:
  void Report(bool always = false);

  ProgressCallback callback_;
  void* context_;
  const volatile int* cancel_;
  std::chrono::milliseconds interval_;
  std::chrono::steady_clock::time_point last_report_;
  bool reported_ = false;
  bool held_back_ = false;
  bool stop_ = false;
  std::uint32_t phases_seen_ = 0;  // a bit for each Phase entered
  ProgressEvent event_;
  ByteProgress sink_;
};

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_PROGRESS_REPORTER_H_
