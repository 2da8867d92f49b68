// SPDX-License-Identifier: MIT
// Reads and writes on a POSIX descriptor with the guarantees that the core
// expects of ReadFile and WriteFile: a write that succeeds has written every
// byte, and a read reports 0 bytes only at the end of the file. Interrupted
// calls and short writes are retried.
#ifndef TARVELIN_PLATFORM_POSIX_FD_IO_H_
#define TARVELIN_PLATFORM_POSIX_FD_IO_H_

#include <errno.h>
#include <unistd.h>

#include <cstddef>

namespace tarvelin::posix {

// Writes all `size` bytes. Returns 0, or the errno value of the write that
// failed; *written holds the count of bytes written either way.
inline int WriteFully(int fd, const void* buffer, std::size_t size, std::size_t* written) {
  const char* bytes = static_cast<const char*>(buffer);
  *written = 0;
  while (*written < size) {
    const ssize_t count = write(fd, bytes + *written, size - *written);
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A write that moves nothing would loop for ever; no regular file does it.
    if (count == 0) return EIO;
    *written += static_cast<std::size_t>(count);
  }
  return 0;
}

// Reads up to `size` bytes; *count is 0 only at the end of the file (or when
// `size` is 0). Returns 0, or an errno value with *count 0.
inline int ReadSome(int fd, void* buffer, std::size_t size, std::size_t* count) {
  *count = 0;
  for (;;) {
    const ssize_t got = read(fd, buffer, size);
    if (got >= 0) {
      *count = static_cast<std::size_t>(got);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

}  // namespace tarvelin::posix

#endif  // TARVELIN_PLATFORM_POSIX_FD_IO_H_
