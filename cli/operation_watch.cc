// SPDX-License-Identifier: MIT
#include "cli/operation_watch.h"

namespace tarvelin::cli {

void OperationWatch::Attach(OperationOptions* options) {
  options->progress = &OperationWatch::OnEvent;
  options->progress_context = this;
}

void OperationWatch::OnEvent(const ProgressEvent& event, void* self) {
  OperationWatch& watch = *static_cast<OperationWatch*>(self);
  watch.seen_ = true;
  watch.last_ = event;
  if (event.phase == Phase::kJoinPiece && event.piece > watch.last_joined_) {
    watch.last_joined_ = event.piece;
  }
  if (event.phase == Phase::kJoinPiece && watch.first_joined_ < 0) {
    watch.first_joined_ = event.piece;
  }
  if (watch.display_.enabled()) {
    watch.display_.Update(PhaseLabel(event), event.done, event.total);
  }
}

}  // namespace tarvelin::cli
