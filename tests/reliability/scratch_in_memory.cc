// SPDX-License-Identifier: MIT
// Scratch folders go to memory (/dev/shm) when TMPDIR names no other place.
// These tests flush files thousands of times, which costs seconds on a real
// disk, and what they check of durability they model themselves.
#if !defined(_WIN32)
#include <stdlib.h>
#include <unistd.h>

namespace {

[[maybe_unused]] const bool kScratchInMemory = [] {
  if (getenv("TMPDIR") == nullptr && access("/dev/shm", W_OK | X_OK) == 0) {
    setenv("TMPDIR", "/dev/shm", 0);
  }
  return true;
}();

}  // namespace
#endif
