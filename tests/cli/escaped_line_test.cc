// SPDX-License-Identifier: MIT
// Printed lines: what is escaped and how, and that the escapes lose nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cli/escaped_line.h"
#include "platform/utf8.h"

namespace tarvelin::cli {
namespace {

TEST(EscapedLine, EscapesBackslashesAndControlsAndMarksTheLine) {
  struct Case {
    std::string line;
    std::string printed;
  } const cases[] = {
      {"disk.img: OK", "disk.img: OK"},
      {"d\xC3\xAFsk \xE2\x9C\x93.img", "d\xC3\xAFsk \xE2\x9C\x93.img"},  // UTF-8 as it is
      {"bad\xFF.img", "bad\xFF.img"},                                 // and bytes that are not
      {"a\nb", "\\a\\nb"},
      {"c\\d", "\\c\\\\d"},
      {"e\rf", "\\e\\rf"},
      {"tab\there", "\\tab\\x09here"},
      {"\x1B[31mred", "\\\\x1B[31mred"},
      {"del\x7F", "\\del\\x7F"},
      {"nel\xC2\x85", "\\nel\\xC2\\x85"},  // C1 written in UTF-8
      {"csi\x9B", "\\csi\\x9B"},           // C1 as a stray byte
      {"high\xA0\xFF", "high\xA0\xFF"},    // stray bytes that are no controls
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.printed, EscapedLine(c.line)) << ::testing::PrintToString(c.line);
  }
}

// Undoes the escapes of a printed line, as a reader of the output would.
std::string Unescaped(const std::string& printed) {
  if (printed.empty() || printed[0] != '\\') return printed;
  std::string line;
  for (std::size_t i = 1; i < printed.size(); ++i) {
    if (printed[i] != '\\') {
      line += printed[i];
      continue;
    }
    const char kind = printed[++i];
    if (kind == 'x') {
      line += static_cast<char>(std::stoi(printed.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      line += kind == 'n' ? '\n' : kind == 'r' ? '\r' : kind;
    }
  }
  return line;
}

// Any bytes: the printed line holds no control character and no stray C1
// byte, and undoing its escapes gives the bytes back.
TEST(EscapedLine, LosesNothingAndLeavesNoControls) {
  std::uint32_t state = 0x6C078965u;
  for (int round = 0; round < 20000; ++round) {
    state = state * 1664525u + 1013904223u;
    std::string line(1 + (state >> 28), '\0');
    for (char& c : line) {
      state = state * 1664525u + 1013904223u;
      c = static_cast<char>(1 + (state >> 24) % 255);  // names hold no NUL
    }
    const std::string printed = EscapedLine(line);
    ASSERT_EQ(line, Unescaped(printed)) << ::testing::PrintToString(line);
    for (const wchar_t c : Utf8ToWide(printed)) {  // stray bytes as U+DC80..U+DCFF
      const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
      const bool stray_c1 = c >= 0xDC80 && c <= 0xDC9F;
      ASSERT_FALSE(control || stray_c1) << ::testing::PrintToString(printed);
    }
  }
}

}  // namespace
}  // namespace tarvelin::cli
