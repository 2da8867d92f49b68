// SPDX-License-Identifier: MIT
#include "cli/operation_session.h"

#include <cstring>

#include "cli/commands.h"
#include "cli/failure_words.h"
#include "cli/messages.h"
#include "cli/set_names.h"
#include "cli/terminal.h"

namespace tarvelin::cli {

OperationSession::OperationSession(const Invocation& invocation, const std::string& command)
    : path_(invocation.files[0]),
      prefix_(command + " " + invocation.files[0] + ": "),
      request_{invocation.piece_folder, invocation.piece_mib, invocation.keep,
               invocation.command == Command::kCat},
      names_(NamesPath(path_, invocation.piece_folder)),
      to_medium_(invocation.to_given),
      display_(ShowsProgress(invocation), stderr, StderrColumns()) {
  std::memset(&options_, 0, sizeof options_);
  options_.size = sizeof options_;
  options_.user_data = this;
  if (!request_.piece_folder.empty()) options_.piece_folder = request_.piece_folder.c_str();
  if (display_.enabled()) options_.progress = &OperationSession::Progress;
  std::memset(&outcome_, 0, sizeof outcome_);
  outcome_.size = sizeof outcome_;
}

void OperationSession::OnPiece(std::function<void(const tarvelin_piece&)> handler) {
  on_piece_ = std::move(handler);
  options_.piece = &OperationSession::Piece;
}

void OperationSession::OnOutput(std::function<int(const void*, std::size_t)> handler) {
  on_output_ = std::move(handler);
  options_.output = &OperationSession::Output;
}

int OperationSession::Output(const void* bytes, std::size_t size, void* self) {
  return static_cast<OperationSession*>(self)->on_output_(bytes, size);
}

int OperationSession::Progress(const tarvelin_progress* progress, void* self) {
  OperationSession& session = *static_cast<OperationSession*>(self);
  session.display_.Update(PhaseLabel(*progress, session.to_medium_), progress->done,
                          progress->total, progress->phase);
  return 0;
}

void OperationSession::Piece(const tarvelin_piece* piece, void* self) {
  OperationSession& session = *static_cast<OperationSession*>(self);
  session.display_.Clear();
  session.on_piece_(*piece);
}

int OperationSession::Fail(ResultCode code, const std::string& lead) {
  Finish();
  const std::string words = DescribeFailure(outcome_, path_, request_);
  if (outcome_.step == TARVELIN_STEP_PART_OF_A_SPLIT) {
    PrintError(prefix_ + words);
    return kExitUsage;
  }
  PrintError(prefix_ + lead + words + CodeSuffix(code));
  return kExitFailure;
}

}  // namespace tarvelin::cli
