// SPDX-License-Identifier: MIT
// The progress line: its numbers, its width, and how often it is redrawn.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "cli/progress_display.h"

namespace tarvelin::cli {
namespace {

constexpr std::uint64_t MiB = 1048576;

TEST(ProgressLine, ShowsPhasePercentBytesRateAndTimeLeft) {
  const std::string line = FormatProgressLine("cutting piece 3 of 7", 100 * MiB, 400 * MiB, 2.0, 200);
  EXPECT_EQ(0u, line.find("cutting piece 3 of 7"));
  EXPECT_NE(std::string::npos, line.find(" 25%")) << line;
  EXPECT_NE(std::string::npos, line.find("100 MiB of 400 MiB")) << line;
  EXPECT_NE(std::string::npos, line.find("50.0 MiB/s")) << line;
  EXPECT_NE(std::string::npos, line.find("0:06 left")) << line;  // 300 MiB at 50 MiB/s
}

TEST(ProgressLine, NoRateBeforeItMeansAnythingAndNoTimeLeftAtTheEnd) {
  const std::string early = FormatProgressLine("x", 10 * MiB, 400 * MiB, 0.1, 200);
  EXPECT_EQ(std::string::npos, early.find("/s")) << early;
  const std::string done = FormatProgressLine("x", 400 * MiB, 400 * MiB, 4.0, 200);
  EXPECT_NE(std::string::npos, done.find("100%")) << done;
  EXPECT_EQ(std::string::npos, done.find("left")) << done;
  const std::string nothing = FormatProgressLine("x", 0, 0, 1.0, 200);
  EXPECT_NE(std::string::npos, nothing.find("100%")) << nothing;
}

TEST(ProgressLine, LongWorkShowsHours) {
  const std::string line = FormatProgressLine("x", 1 * MiB, 10000 * MiB, 1.0, 200);
  EXPECT_NE(std::string::npos, line.find("2:46:39 left")) << line;
}

TEST(ProgressLine, LongPhasesFitEightyColumnsWhole) {
  for (const char* label : {"fingerprinting piece 12 of 34", "fingerprinting piece 123 of 456"}) {
    const std::string line = FormatProgressLine(label, 7999 * MiB, 9999 * MiB, 33.0, 80);
    EXPECT_EQ(line.size() - 5, line.rfind(" left")) << line;
  }
}

TEST(ProgressLine, NeverWiderThanTheTerminal) {
  for (int columns : {0, 20, 40, 80}) {
    const std::string line =
        FormatProgressLine("fingerprinting piece 1234 of 5678", 3 * MiB, 9000 * MiB, 3.0, columns);
    EXPECT_LE(line.size(), static_cast<std::size_t>(columns > 0 ? columns - 1 : 79)) << columns;
  }
}

TEST(PhaseLabel, CountsPiecesFromOne) {
  EXPECT_EQ("fingerprinting the source", PhaseLabel({TARVELIN_PHASE_FINGERPRINT_SOURCE, -1, 7, 0, 0}));
  EXPECT_EQ("cutting piece 1 of 7", PhaseLabel({TARVELIN_PHASE_CUT_PIECE, 0, 7, 0, 0}));
  EXPECT_EQ("fingerprinting piece 7 of 7", PhaseLabel({TARVELIN_PHASE_FINGERPRINT_PIECE, 6, 7, 0, 0}));
  EXPECT_EQ("putting the pieces on the disk", PhaseLabel({TARVELIN_PHASE_FLUSH, -1, 7, 0, 0}));
  EXPECT_EQ("verifying piece 3 of 4", PhaseLabel({TARVELIN_PHASE_VERIFY_PIECE, 2, 4, 0, 0}));
  EXPECT_EQ("joining piece 3", PhaseLabel({TARVELIN_PHASE_JOIN_PIECE, 2, 0, 0, 0}));
  EXPECT_EQ("verifying the whole", PhaseLabel({TARVELIN_PHASE_VERIFY_WHOLE, -1, 4, 0, 0}));
}

std::string Drawn(std::FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stream)) > 0;) {
    text.append(buffer, got);
  }
  return text;
}

TEST(ProgressDisplay, RedrawsAtMostTenTimesASecondAndEndsTheLine) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(nullptr, stream);
  const auto start = std::chrono::steady_clock::now();
  {
    ProgressDisplay display(true, stream, 80);
    for (std::uint64_t i = 0; i <= 20000; ++i) display.Update("verifying", i, 20000);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::string text = Drawn(stream);
  std::fclose(stream);
  std::size_t draws = 0;
  for (char c : text) draws += c == '\r';
  // The first state, one per tenth of a second, and the last.
  EXPECT_GE(draws, 2u);
  EXPECT_LE(draws, 2 + static_cast<std::size_t>(seconds * 10)) << seconds << " s";
  EXPECT_EQ('\n', text.back());
  EXPECT_NE(std::string::npos, text.rfind("100%  19.5 KiB of 19.5 KiB")) << "the last state is drawn";
}

TEST(ProgressDisplay, ClearsWhatALongerLineLeft) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(nullptr, stream);
  {
    ProgressDisplay display(true, stream, 200);
    display.Update(std::string(60, 'a'), 1, 2);
    display.Update("b", 2, 2);
    display.Finish();
  }
  const std::string text = Drawn(stream);
  std::fclose(stream);
  // "\r<long line>\r<short line, padded>\n"
  ASSERT_EQ('\r', text.front());
  const std::size_t second = text.find('\r', 1);
  ASSERT_NE(std::string::npos, second) << text;
  EXPECT_EQ('b', text[second + 1]);
  EXPECT_GE(text.size() - 1 - (second + 1), second - 1) << "the short line covers the long one";
}

TEST(ProgressDisplay, DisabledDrawsNothing) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(nullptr, stream);
  {
    ProgressDisplay display(false, stream, 80);
    display.Update("x", 1, 2);
    display.Finish();
  }
  EXPECT_EQ("", Drawn(stream));
  std::fclose(stream);
}

}  // namespace
}  // namespace tarvelin::cli
