// SPDX-License-Identifier: MIT
// Follows an operation through its progress events: shows them on the
// display and remembers where the operation was, so that a failure can be
// told in words ("piece disk.3 does not match ...").
#ifndef TARVELIN_CLI_OPERATION_WATCH_H_
#define TARVELIN_CLI_OPERATION_WATCH_H_

#include <cstdint>

#include "cli/progress_display.h"
#include "library/operations.h"

namespace tarvelin::cli {

class OperationWatch {
 public:
  explicit OperationWatch(ProgressDisplay& display) : display_(display) {}
  OperationWatch(const OperationWatch&) = delete;
  OperationWatch& operator=(const OperationWatch&) = delete;

  // Makes `options` report to this watch.
  void Attach(OperationOptions* options);

  bool seen() const { return seen_; }
  // The latest event: the phase that the operation was in when it stopped.
  const ProgressEvent& last() const { return last_; }
  // The highest and the lowest piece that a merge began to join, or -1; a
  // merge that went on from a file left by an earlier one begins above 0.
  std::int32_t last_joined() const { return last_joined_; }
  std::int32_t first_joined() const { return first_joined_; }

 private:
  static void OnEvent(const ProgressEvent& event, void* self);

  ProgressDisplay& display_;
  bool seen_ = false;
  ProgressEvent last_{Phase::kFingerprintSource, -1, 0, 0, 0};
  std::int32_t last_joined_ = -1;
  std::int32_t first_joined_ = -1;
};

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_OPERATION_WATCH_H_
