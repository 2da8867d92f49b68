// SPDX-License-Identifier: MIT
#include "platform/ini_lines.h"

namespace tarvelin {

bool IsIniBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' ||
         c == '\x1A';
}

std::string_view TrimIniBlanks(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && IsIniBlank(text[begin])) ++begin;
  std::size_t end = text.size();
  while (end > begin && IsIniBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string_view StripValueQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

IniLine ClassifyIniLine(std::string_view content) {
  IniLine line;
  content = TrimIniBlanks(content);
  line.blank = content.empty();
  if (line.blank) return line;
  if (content.front() == '[') {
    const std::size_t close = content.rfind(']');
    if (close != 0 && close != std::string_view::npos) {
      line.kind = IniLine::kSection;
      line.name = TrimIniBlanks(content.substr(1, close - 1));
      return line;
    }
  }
  if (content.front() == ';') return line;
  const std::size_t equals = content.find('=');
  if (equals == std::string_view::npos) return line;
  line.kind = IniLine::kEntry;
  line.name = TrimIniBlanks(content.substr(0, equals));
  line.value = TrimIniBlanks(content.substr(equals + 1));
  return line;
}

}  // namespace tarvelin
