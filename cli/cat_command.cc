// SPDX-License-Identifier: MIT
// cat: the original's bytes on standard output, straight from its pieces,
// each piece proved as it goes out and the whole at the end (tarvelin_cat).
//
// The bytes go to standard output through the system's own calls, past
// stdio: they are many, stdio must hold none of them when the tool checks
// its stdout at exit (standard_output.h), and a write that fails is told
// once, here, with the system's reason. A reader that goes away (a closed
// pipe) is such a failure, not a signal that kills the tool unheard: the
// image that dd was writing is short, and the user has to know.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

#include "cli/commands.h"
#include "cli/help_text.h"
#include "cli/messages.h"
#include "cli/operation_session.h"
#include "cli/terminal.h"
#include "tarvelin/tarvelin.h"

namespace tarvelin::cli {
namespace {

// What the writes to standard output came to.
struct Output {
  std::uint64_t written = 0;
  bool failed = false;
  std::string reason;  // the system's words for the failure
};

#if defined(_WIN32)

std::string WindowsErrorWords(DWORD error) {
  // A pipe whose reader went away, in the words that POSIX gives EPIPE.
  if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
    return "broken pipe";
  }
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words;
  if (length > 0) {
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    words.resize(needed > 0 ? static_cast<std::size_t>(needed) : 0);
    if (needed > 0) {
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &words[0], needed, nullptr,
                          nullptr);
    }
  }
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
    words.pop_back();
  }
  if (words.empty()) return "system error " + std::to_string(error);
  if (words[0] >= 'A' && words[0] <= 'Z') words[0] = static_cast<char>(words[0] - 'A' + 'a');
  return words;
}

// Returns 0, or the system's error, which the library reports back.
int WriteOut(const void* bytes, std::size_t size, Output* output) {
  Output& out = *output;
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD wrote = 0;
    if (!WriteFile(handle, next, chunk, &wrote, nullptr) || wrote == 0) {
      const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
      out.failed = true;
      out.reason = WindowsErrorWords(error);
      return static_cast<int>(error);
    }
    next += wrote;
    size -= wrote;
    out.written += wrote;
  }
  return 0;
}

// No CR LF translation: the bytes are the original's.
void PrepareStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

#else

// Win32's numbers, which the library's outcome carries on every system.
constexpr int kErrorWriteFault = 29;
constexpr int kErrorBrokenPipe = 109;
constexpr int kErrorDiskFull = 112;

int WriteOut(const void* bytes, std::size_t size, Output* output) {
  Output& out = *output;
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t wrote = write(STDOUT_FILENO, next, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      const int error = wrote < 0 ? errno : EIO;
      out.failed = true;
      out.reason = ErrnoWords(error);
      return error == EPIPE    ? kErrorBrokenPipe
             : error == ENOSPC ? kErrorDiskFull
                               : kErrorWriteFault;
    }
    next += wrote;
    size -= static_cast<std::size_t>(wrote);
    out.written += static_cast<std::uint64_t>(wrote);
  }
  return 0;
}

// A closed pipe is a failed write (EPIPE), told in words, not a SIGPIPE.
void PrepareStandardOutput() { std::signal(SIGPIPE, SIG_IGN); }

#endif

}  // namespace

int RunCat(const Invocation& invocation) {
  const std::string prefix = "cat " + invocation.files[0] + ": ";
  // As compressors do: bytes of a disk image are nothing to show on a screen.
  if (!invocation.force && StdoutIsTerminal()) {
    PrintError(prefix + "standard output is a terminal, and the original's bytes are not for a "
                        "screen: send them to a file or a pipe, or give -f to write them there");
    std::fprintf(stderr, "%s\n", kTryHelp);
    return kExitUsage;
  }
  PrepareStandardOutput();
  OperationSession session(invocation, "cat");
  Output out;
  session.OnOutput(
      [&out](const void* bytes, std::size_t size) { return WriteOut(bytes, size, &out); });
  const ResultCode code =
      tarvelin_cat(session.path().c_str(), &session.options(), &session.outcome());
  session.Finish();
  if (code == RC_OK) return kExitSuccess;
  if (out.failed) {
    PrintError(prefix + "writing to standard output failed after " + std::to_string(out.written) +
               " bytes: " + out.reason + CodeSuffix(code));
    return kExitFailure;
  }
  return session.Fail(code);
}

}  // namespace tarvelin::cli
