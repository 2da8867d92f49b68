// SPDX-License-Identifier: MIT
// The line rules by which Windows' profile functions read an INI file, shared
// by the POSIX profile emulation and the library's reading of manifests:
// - a line ends at CR LF, LF or a lone CR; the last one may have no end;
// - blanks (space, tab, VT, FF, CR and the Ctrl-Z end-of-file mark) around a
//   line, a name or a value do not count;
// - "[name]" starts a section, the name running to the line's last ']'; a
//   line that starts with '[' but has no ']' is read like any other line;
// - "name=value" is an entry, split at the first '='; lines starting with
//   ';' and lines without '=' are never found;
// - names compare without regard to ASCII case.
#ifndef TARVELIN_PLATFORM_INI_LINES_H_
#define TARVELIN_PLATFORM_INI_LINES_H_

#include <string_view>

namespace tarvelin {

// One line by the rules above, given without its line break. Names and
// values are trimmed of blanks and point into `content`.
struct IniLine {
  enum Kind { kOther, kSection, kEntry };
  Kind kind = kOther;  // kOther: a blank line, a comment, or a line without '='
  bool blank = false;
  std::string_view name;   // the section's or the entry's
  std::string_view value;  // the entry's, quotes still on
};
IniLine ClassifyIniLine(std::string_view content);

// `value` without one pair of matching single or double quotes around it,
// which Windows drops when it reads a value.
std::string_view StripValueQuotes(std::string_view value);

// True when `c` is a blank that the profile functions ignore around names and
// values.
bool IsIniBlank(char c);

// `text` without leading and trailing blanks.
std::string_view TrimIniBlanks(std::string_view text);

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_INI_LINES_H_
