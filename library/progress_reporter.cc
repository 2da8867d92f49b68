// SPDX-License-Identifier: MIT
#include "library/progress_reporter.h"

namespace tarvelin {

ProgressReporter::ProgressReporter(const OperationOptions& options)
    : callback_(options.progress),
      context_(options.progress_context),
      event_{Phase::kFingerprintSource, -1, 0, 0, 0} {
  sink_.on_bytes = [](void* self, std::uint64_t bytes) {
    static_cast<ProgressReporter*>(self)->Advance(bytes);
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
  Report();
}

void ProgressReporter::Advance(std::uint64_t bytes) {
  event_.done += bytes;
  if (event_.done > event_.total) event_.total = event_.done;
  Report();
}

void ProgressReporter::Report() const {
  if (callback_ != nullptr) callback_(event_, context_);
}

}  // namespace tarvelin
