// SPDX-License-Identifier: MIT
// The progress line on a terminal: what is being done, how far it is, how
// fast and how long is left, redrawn in place at most ten times a second.
//
//   cutting piece 3 of 7            41%  370 MiB of 900 MiB  512 MiB/s  0:01 left
//
// The byte counts are bytes of work: a split reads the source once for its
// fingerprint, once to cut it and each piece once more, so its total is three
// times the source. A display that is not enabled draws nothing.
#ifndef TARVELIN_CLI_PROGRESS_DISPLAY_H_
#define TARVELIN_CLI_PROGRESS_DISPLAY_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tarvelin/tarvelin.h"

namespace tarvelin::cli {

// "cutting piece 3 of 7" for an event of the library (pieces count from 1
// here, as people count, while the files count from 0). A split that writes
// to a medium of its own (--to) tells its phases as "writing piece 3 of 7 to
// medium", "flushing to medium", "reading back piece 3 of 7".
std::string PhaseLabel(const tarvelin_progress& event, bool to_medium = false);

// The whole line for `label`, cut to `columns` - 1 characters so that the
// terminal never wraps it (0: 80 columns). The rate is that of the
// `elapsed_seconds` since `rate_base` bytes were done (the phase's start).
std::string FormatProgressLine(const std::string& label, std::uint64_t done, std::uint64_t total,
                               double elapsed_seconds, int columns, std::uint64_t rate_base = 0);

class ProgressDisplay {
 public:
  ProgressDisplay(bool enabled, std::FILE* stream, int columns);
  ~ProgressDisplay() { Finish(); }
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  bool enabled() const { return enabled_; }
  // Records the state; draws it at once the first time, then when the last
  // drawing is a tenth of a second old. A name in `label` is escaped as every
  // line of the tool is (escaped_line.h). The rate is measured from the
  // start of the `phase` (a TARVELIN_PHASE_ value): each phase reads or
  // writes at its own speed (a stick writes far slower than it reads), and a
  // rate over all of them would tell none of them.
  void Update(const std::string& label, std::uint64_t done, std::uint64_t total, int phase = 0);
  // Draws the last state and ends the line; the next Update starts anew.
  void Finish();
  // Blanks the line, so that a line of output can take its place; the next
  // Update draws it again once a tenth of a second has passed since the
  // last drawing.
  void Clear();

 private:
  void Draw();

  bool enabled_;
  std::FILE* stream_;
  int columns_;
  std::chrono::steady_clock::time_point phase_start_;
  std::chrono::steady_clock::time_point last_draw_;
  int phase_ = 0;
  std::uint64_t phase_base_ = 0;  // the bytes done when the phase began
  bool started_ = false;
  bool drawn_ = false;    // drawn since the start
  bool visible_ = false;  // and not blanked since
  std::size_t drawn_width_ = 0;
  std::string label_;
  std::uint64_t done_ = 0;
  std::uint64_t total_ = 0;
};

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_PROGRESS_DISPLAY_H_
