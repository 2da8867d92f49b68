// SPDX-License-Identifier: MIT
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>

#include "cli/messages.h"
#include "cli/raw_output.h"

namespace tarvelin::cli {
namespace {

// Win32's numbers, which the library's outcome carries on every system.
constexpr int kErrorWriteFault = 29;
constexpr int kErrorBrokenPipe = 109;
constexpr int kErrorDiskFull = 112;

}  // namespace

int WriteRaw(const void* bytes, std::size_t size, RawOutput* output) {
  RawOutput& out = *output;
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

void PrepareRawOutput() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace tarvelin::cli
