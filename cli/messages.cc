// SPDX-License-Identifier: MIT
#include "cli/messages.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "cli/escaped_line.h"
#include "cli/standard_output.h"

namespace tarvelin::cli {
namespace {

void PrintLine(const std::string& text) {
  FlushOut();  // keep the order of the two streams on one terminal
  const std::string line = EscapedLine("tarvelin: " + text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

void PrintError(const std::string& text) { PrintLine(text); }
void PrintWarning(const std::string& text) { PrintLine("warning: " + text); }
void PrintNote(const std::string& text) { PrintLine(text); }

std::string CodeSuffix(ResultCode code) {
  char value[16];
  std::snprintf(value, sizeof value, "0x%08X", static_cast<unsigned>(code));
  return std::string(" (") + tarvelin_code_name(code) + ", " + value + ")";
}

std::string ErrnoWords(int error) {
  std::string words = std::strerror(error);
  if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
  return words;
}

std::string ShortBytes(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  // Three significant digits: enough to follow, short enough for one line.
  const char* format = value < 10 ? "%.2f %s" : value < 100 ? "%.1f %s" : "%.0f %s";
  std::snprintf(text, sizeof text, format, value, kUnits[unit]);
  return text;
}

std::string BytesText(std::uint64_t bytes) {
  return std::to_string(bytes) + " bytes (" + ShortBytes(bytes) + ")";
}

}  // namespace tarvelin::cli
