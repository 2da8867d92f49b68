// SPDX-License-Identifier: MIT
// A line as the tool prints it: names may hold any byte, and printed raw a
// newline would break the one-line formats and a control character could
// drive the terminal. So every line that the tool prints is escaped as
// md5sum escapes a file name, and a line that holds an escape begins with a
// backslash, which tells a reader to undo them:
//
//   \  ->  \\        newline  ->  \n        carriage return  ->  \r
//
// On Windows, where a backslash separates folders and no name holds one, it
// is printed as it is. md5sum stops there; the tool also escapes every other control character,
// C0 (U+0001..U+001F), DEL and C1 (U+0080..U+009F), as \xHH for each of its
// UTF-8 bytes, and a stray byte 0x80..0x9F that is not part of valid UTF-8
// (a C1 control to a terminal of an 8-bit character set) as \xHH. Every
// other byte, valid UTF-8 or not, is printed as it is, so a name comes back
// as the bytes it was given as. The escapes are undone byte for byte.
#ifndef TARVELIN_CLI_ESCAPED_LINE_H_
#define TARVELIN_CLI_ESCAPED_LINE_H_

#include <string>

namespace tarvelin::cli {

// `line` (without its newline) escaped, with the leading backslash when
// anything in it was; a line with nothing to escape comes back unchanged.
std::string EscapedLine(const std::string& line);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_ESCAPED_LINE_H_
