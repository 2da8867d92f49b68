// SPDX-License-Identifier: MIT
// Bytes on standard output through the system's own calls, past stdio:
// they are many, stdio must hold none of them when the tool checks its
// stdout at exit (standard_output.h), and a write that fails comes back
// with the system's reason. A reader that goes away (a closed pipe) is such
// a failure, not a signal that kills the tool unheard: the image that dd was
// writing is short, and the user has to know.
#ifndef TARVELIN_CLI_RAW_OUTPUT_H_
#define TARVELIN_CLI_RAW_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvelin::cli {

// What the writes to standard output came to.
struct RawOutput {
  std::uint64_t written = 0;
  bool failed = false;
  std::string reason;  // the system's words for the failure
};

// Before the first write: no CR LF translation on Windows (the bytes are
// the original's), and on POSIX a closed pipe fails the write (EPIPE)
// rather than raising SIGPIPE.
void PrepareRawOutput();

// Writes all `size` bytes, counting them in *output. Returns 0, or on a
// failure the system's error in Win32's numbers, which the library reports
// back; *output then says why in words.
int WriteRaw(const void* bytes, std::size_t size, RawOutput* output);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_RAW_OUTPUT_H_
