// SPDX-License-Identifier: MIT
// What every command that runs an operation sets up and tears down: the
// split set named by the file given, the progress display, and the report
// that the operation fills when it fails, worded on the way out.
#ifndef TARVELIN_CLI_OPERATION_SESSION_H_
#define TARVELIN_CLI_OPERATION_SESSION_H_

#include <string>

#include "cli/arguments.h"
#include "cli/operation_watch.h"
#include "cli/progress_display.h"
#include "library/failure_report.h"
#include "library/operations.h"
#include "library/split_set.h"

namespace tarvelin::cli {

class OperationSession {
 public:
  // `command` is the word the user typed ("split"), for the messages.
  OperationSession(const Invocation& invocation, const std::string& command);
  OperationSession(const OperationSession&) = delete;
  OperationSession& operator=(const OperationSession&) = delete;

  Platform& platform() { return platform_; }
  const SplitSet& set() const { return set_; }
  SplitSet& set() { return set_; }
  // False when a derived name would not fit; the operation then answers
  // RC_INVALID_PATH and touches nothing.
  bool names_fit() const { return names_fit_; }
  const std::wstring& path() const { return path_; }
  // The file as the user typed it, and "<command> <file>: ".
  const std::string& shown() const { return shown_; }
  const std::string& prefix() const { return prefix_; }
  const OperationWatch& watch() const { return watch_; }
  // Options that report progress to the display and failures to the session.
  const OperationOptions& options() const { return options_; }
  const FailureReport& report() const { return report_; }

  // For merge and verify: when the file given is the manifest or a piece of
  // a split (a usage error), or a folder stands at the manifest's name,
  // prints why and returns the exit code; otherwise returns -1.
  int RefuseWhatIsNoFileToRebuild();
  // Reads the manifest's record into set(), through a handle of its own that
  // shares writing (so it reads beside a running split); records nothing
  // when it cannot, and then returns false.
  bool ReadRecord();

  // When the file given is the manifest of a split, or one of its pieces,
  // rather than the file to rebuild: the words that say so; else empty.
  std::string NamesAPartOfTheSplit();
  // When a folder stands at the manifest's name: the words that say so (a
  // merge would otherwise find it, read no record and prove nothing); else
  // empty.
  std::string ManifestIsAFolder();

  // Ends the progress line.
  void Finish() { display_.Finish(); }
  // Prints "tarvelin: <command> <file>: <words> (<code>)" and returns the
  // failure exit code. `file_existed`: a merge found a file at the path.
  int Fail(ResultCode code, bool file_existed = false, const std::string& lead = "");
  // Prints "tarvelin: <command> <file>: <text>" and returns the failure code.
  int Refuse(const std::string& text);

 private:
  Platform& platform_;
  std::wstring path_;
  std::string shown_;
  std::string prefix_;
  SplitSet set_;
  bool names_fit_ = false;
  ProgressDisplay display_;
  OperationWatch watch_;
  FailureReport report_;
  OperationOptions options_;
};

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_OPERATION_SESSION_H_
