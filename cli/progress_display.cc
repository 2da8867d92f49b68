// SPDX-License-Identifier: MIT
#include "cli/progress_display.h"

#include "cli/escaped_line.h"
#include "cli/messages.h"

namespace tarvelin::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// A rate measured over less than this is mostly noise.
constexpr double kSteadyAfterSeconds = 0.5;

std::string Duration(double seconds) {
  if (seconds > 359999) return "--:--";
  const long whole = static_cast<long>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  }
  return text;
}

std::string PieceOf(const char* verb, const tarvelin_progress& event) {
  std::string label = std::string(verb) + " piece " + std::to_string(event.piece + 1);
  if (event.piece_count > 0) label += " of " + std::to_string(event.piece_count);
  return label;
}

}  // namespace

std::string PhaseLabel(const tarvelin_progress& event, bool to_medium) {
  if (to_medium && event.phase == TARVELIN_PHASE_CUT_PIECE) {
    return PieceOf("writing", event) + " to medium";
  }
  if (to_medium && event.phase == TARVELIN_PHASE_FLUSH) return "flushing to medium";
  switch (event.phase) {
    case TARVELIN_PHASE_FINGERPRINT_SOURCE: return "fingerprinting the source";
    case TARVELIN_PHASE_CHECK_EARLIER_OUTPUT:
      return "checking piece " + std::to_string(event.piece + 1) + " left by an earlier split";
    case TARVELIN_PHASE_CUT_PIECE: return PieceOf("cutting", event);
    case TARVELIN_PHASE_FINGERPRINT_PIECE: return PieceOf("fingerprinting", event);
    case TARVELIN_PHASE_FLUSH: return "putting the pieces on the disk";
    case TARVELIN_PHASE_FIND_JOINED: return "finding the pieces already joined";
    case TARVELIN_PHASE_VERIFY_PIECE: return PieceOf("verifying", event);
    case TARVELIN_PHASE_JOIN_PIECE: return PieceOf("joining", event);
    case TARVELIN_PHASE_VERIFY_WHOLE: return "verifying the whole";
    case TARVELIN_PHASE_FINGERPRINT: return "fingerprinting";
    case TARVELIN_PHASE_READ_BACK:
      return event.piece < 0 ? "reading back the manifest" : PieceOf("reading back", event);
    case TARVELIN_PHASE_STREAM_PIECE: return PieceOf("streaming", event);
    default: break;
  }
  return "working";
}

std::string FormatProgressLine(const std::string& label, std::uint64_t done, std::uint64_t total,
                               double elapsed_seconds, int columns, std::uint64_t rate_base) {
  const unsigned percent =
      total == 0 ? 100 : static_cast<unsigned>(static_cast<double>(done) * 100 / total);
  const std::uint64_t measured = done > rate_base ? done - rate_base : 0;
  const bool steady = elapsed_seconds >= kSteadyAfterSeconds && measured > 0;
  const double rate = steady ? static_cast<double>(measured) / elapsed_seconds : 0;
  const auto numbers = [&](const char* gap) {
    char text[16];
    std::snprintf(text, sizeof text, "%3u%%", percent > 100 ? 100 : percent);
    std::string line = gap + std::string(text) + gap + ShortBytes(done) + " of " + ShortBytes(total);
    if (steady) {
      line += gap + ShortBytes(static_cast<std::uint64_t>(rate)) + "/s";
      if (total > done) line += gap + Duration(static_cast<double>(total - done) / rate) + " left";
    }
    return line;
  };
  const std::size_t width = static_cast<std::size_t>(columns > 1 ? columns - 1 : 79);
  // The label padded to a fixed width keeps the numbers still while phases
  // change. When the line would not fit, the padding goes first, then the
  // wide gaps, and only then the end of the line.
  constexpr std::size_t kLabelWidth = 30;
  std::string line = label;
  if (line.size() < kLabelWidth) line.append(kLabelWidth - line.size(), ' ');
  line += numbers("  ");
  if (line.size() > width) line = label + numbers("  ");
  if (line.size() > width) line = label + numbers(" ");
  if (line.size() > width) line.resize(width);
  return line;
}

ProgressDisplay::ProgressDisplay(bool enabled, std::FILE* stream, int columns)
    : enabled_(enabled), stream_(stream), columns_(columns) {}

void ProgressDisplay::Update(const std::string& label, std::uint64_t done, std::uint64_t total,
                             int phase) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!started_ || phase != phase_) {
    started_ = true;
    phase_ = phase;
    phase_start_ = now;
    phase_base_ = done;
  }
  label_ = EscapedLine(label);
  done_ = done;
  total_ = total;
  if (!drawn_ || now - last_draw_ >= kRedrawInterval) Draw();
}

void ProgressDisplay::Clear() {
  if (!enabled_ || !visible_) return;
  std::fprintf(stream_, "\r%s\r", std::string(drawn_width_, ' ').c_str());
  std::fflush(stream_);
  visible_ = false;
  drawn_width_ = 0;
}

void ProgressDisplay::Draw() {
  const auto now = std::chrono::steady_clock::now();
  last_draw_ = now;
  const double elapsed = std::chrono::duration<double>(now - phase_start_).count();
  std::string line = FormatProgressLine(label_, done_, total_, elapsed, columns_, phase_base_);
  const std::size_t width = line.size();
  // Blank out what a longer earlier line left on the terminal.
  if (width < drawn_width_) line.append(drawn_width_ - width, ' ');
  std::fprintf(stream_, "\r%s", line.c_str());
  std::fflush(stream_);
  drawn_ = visible_ = true;
  drawn_width_ = width;
}

void ProgressDisplay::Finish() {
  if (!enabled_ || !started_) return;
  Draw();
  std::fputc('\n', stream_);
  std::fflush(stream_);
  started_ = drawn_ = visible_ = false;
  drawn_width_ = 0;
  label_.clear();
}

}  // namespace tarvelin::cli
