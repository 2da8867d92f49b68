// SPDX-License-Identifier: MIT
// What every command that runs an operation sets up and tears down: the
// options that show progress on the display, the outcome that the library
// fills, and the failure worded from it on the way out.
#ifndef TARVELIN_CLI_OPERATION_SESSION_H_
#define TARVELIN_CLI_OPERATION_SESSION_H_

#include <functional>
#include <string>

#include "cli/arguments.h"
#include "cli/failure_words.h"
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
  // The path that the names of the pieces and the manifest derive from
  // (set_names.h): the file, or the pieces' folder and the file's name.
  const std::string& names() const { return names_; }
  // Progress goes to the display; pieces, once OnPiece is set, to it; the
  // pieces' folder of --to or --from is set. The command adds its own.
  tarvelin_options& options() { return options_; }
  tarvelin_outcome& outcome() { return outcome_; }
  const tarvelin_outcome& outcome() const { return outcome_; }
  // Told of each piece that a verify judges or a merge leaves; the progress
  // line is blanked first, so that a line printed here stands alone.
  void OnPiece(std::function<void(const tarvelin_piece&)> handler);
  // Receives the bytes that a cat writes out; returns 0 once all are
  // written, else the system's error (tarvelin_write_callback).
  void OnOutput(std::function<int(const void* bytes, std::size_t size)> handler);

  // Ends the progress line.
  void Finish() { display_.Finish(); }
  // Prints "tarvelin: <command> <file>: <lead><words> (<code>)" from the
  // outcome and returns the exit code: a usage error when the file given is
  // a part of a split, not the file to rebuild; else a failure.
  int Fail(ResultCode code, const std::string& lead = "");

 private:
  static int TARVELIN_CALLBACK Progress(const tarvelin_progress* progress, void* self);
  static void TARVELIN_CALLBACK Piece(const tarvelin_piece* piece, void* self);
  static int TARVELIN_CALLBACK Output(const void* bytes, std::size_t size, void* self);

  std::string path_;
  std::string prefix_;
  Request request_;
  std::string names_;
  bool to_medium_;  // split --to: the phases are told as a medium's
  ProgressDisplay display_;
  std::function<void(const tarvelin_piece&)> on_piece_;
  std::function<int(const void*, std::size_t)> on_output_;
  tarvelin_options options_;
  tarvelin_outcome outcome_;
};

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_OPERATION_SESSION_H_
