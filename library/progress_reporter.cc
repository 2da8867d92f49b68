// SPDX-License-Identifier: MIT
#include "library/progress_reporter.h"

namespace tarvelin {

ProgressReporter::ProgressReporter(const OperationOptions& options)
    : callback_(options.progress),
      context_(options.progress_context),
      cancel_(options.cancel),
      interval_(options.progress_interval_ms),
      event_{Phase::kFingerprintSource, -1, 0, 0, 0} {
  sink_.on_bytes = [](void* self, std::uint64_t bytes) {
    return static_cast<ProgressReporter*>(self)->Advance(bytes);
  };
  sink_.context = this;
}

void ProgressReporter::SetTotals(std::uint64_t total_bytes, std::int32_t piece_count) {
  event_.total = total_bytes;
  event_.piece_count = piece_count;
}

void ProgressReporter::Enter(Phase phase, std::int32_t piece) {
  event_.phase = phase;
  event_.piece = piece;
  const std::uint32_t bit = 1u << static_cast<unsigned>(phase);
  const bool first_of_its_kind = (phases_seen_ & bit) == 0;
  phases_seen_ |= bit;
  // A step of no piece comes once (the manifest's read-back after the
  // pieces'), and goes out like a phase of its own.
  Report(first_of_its_kind || piece < 0);
}

void ProgressReporter::Finish() {
  if (held_back_) Report(true);
}

bool ProgressReporter::Advance(std::uint64_t bytes) {
  event_.done += bytes;
  if (event_.done > event_.total) event_.total = event_.done;
  Report();
  return !cancelled();
}

bool ProgressReporter::cancelled() const {
  return stop_ || (cancel_ != nullptr && *cancel_ != 0);
}

// With an interval, a report goes out only when that much time has passed
// since the last, whatever changed: a split into thousands of small pieces
// changes phase thousands of times a second. The first entry into each
// phase goes out whatever the time, so that a host sees every phase (and
// may stop at it): a handful of reports more in a whole operation.
void ProgressReporter::Report(bool always) {
  if (callback_ == nullptr) return;
  if (interval_.count() != 0) {
    const auto now = std::chrono::steady_clock::now();
    if (!always && reported_ && now - last_report_ < interval_) {
      held_back_ = true;
      return;
    }
    last_report_ = now;
  }
  reported_ = true;
  held_back_ = false;
  if (!callback_(event_, context_)) stop_ = true;
}

}  // namespace tarvelin
