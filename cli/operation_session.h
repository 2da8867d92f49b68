// SPDX-License-Identifier: MIT
// What every command that runs an operation sets up and tears down: the
// options that show progress on the display, the outcome that the library
// fills, and the failure worded from it on the way out.
#ifndef TARVELIN_CLI_OPERATION_SESSION_H_
#define TARVELIN_CLI_OPERATION_SESSION_H_

#include <functional>
#include <string>

#include "cli/arguments.h"
#include "cli/progress_display.h"
#include "tarvelin/tarvelin.h"

namespace tarvelin::cli {

class OperationSession {
 public:
  // `command` is the word the user typed ("split"), for the messages.
  OperationSession(const Invocation& invocation, const std::string& command);
  OperationSession(const OperationSession&) = delete;
  OperationSession& operator=(const OperationSession&) = delete;

  // The file as the user typed it, and "<command> <file>: ".
  const std::string& path() const { return path_; }
  const std::string& prefix() const { return prefix_; }
  // Progress goes to the display; pieces, once OnPiece is set, to it. The
  // command adds its own.
  tarvelin_options& options() { return options_; }
  tarvelin_outcome& outcome() { return outcome_; }
  // Told of each piece that a verify judges or a merge leaves; the progress
  // line is blanked first, so that a line printed here stands alone.
  void OnPiece(std::function<void(const tarvelin_piece&)> handler);

  // Ends the progress line.
  void Finish() { display_.Finish(); }
  // Prints "tarvelin: <command> <file>: <lead><words> (<code>)" from the
  // outcome and returns the exit code: a usage error when the file given is
  // a part of a split, not the file to rebuild; else a failure.
  int Fail(ResultCode code, const std::string& lead = "");

 private:
  static int TARVELIN_CALLBACK Progress(const tarvelin_progress* progress, void* self);
  static void TARVELIN_CALLBACK Piece(const tarvelin_piece* piece, void* self);

  std::string path_;
  std::string prefix_;
  ProgressDisplay display_;
  std::function<void(const tarvelin_piece&)> on_piece_;
  tarvelin_options options_;
  tarvelin_outcome outcome_;
};

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_OPERATION_SESSION_H_
