// SPDX-License-Identifier: MIT
#include "cli/standard_output.h"

#include <cerrno>
#include <cstdio>

#include "cli/commands.h"
#include "cli/escaped_line.h"
#include "cli/messages.h"

namespace tarvelin::cli {
namespace {

// The errno value of the first write that failed; 0 while none has, or when
// the stream reported an error without one.
int g_first_error = 0;
bool g_failed = false;
bool g_closed = false;  // after FinishOut: nothing may touch stdout

// Notes a failure of the call that just returned `ok`.
void Note(bool ok) {
  if (ok || g_failed) return;
  g_failed = true;
  g_first_error = errno;
}

}  // namespace

void PrintOut(const std::string& line) {
  const std::string text = EscapedLine(line) + "\n";
  errno = 0;
  Note(std::fwrite(text.data(), 1, text.size(), stdout) == text.size());
}

void PrintOutText(const char* text) {
  errno = 0;
  Note(std::fputs(text, stdout) >= 0);
}

void FlushOut() {
  if (g_closed) return;
  errno = 0;
  Note(std::fflush(stdout) == 0);
}

int FinishOut(int exit_code) {
  FlushOut();
  // A failure that the stream saw while flushing on its own (its buffer was
  // full) left only its error flag.
  if (std::ferror(stdout) != 0 && !g_failed) g_failed = true;
  errno = 0;
  g_closed = true;
  Note(std::fclose(stdout) == 0);
  if (!g_failed) return exit_code;
  PrintError(g_first_error != 0 ? "write error: " + ErrnoWords(g_first_error) : "write error");
  return exit_code == kExitSuccess ? kExitFailure : exit_code;
}

}  // namespace tarvelin::cli
