// SPDX-License-Identifier: MIT
#include "tests/reliability/open_descriptors.h"

#if defined(_WIN32)
#include <windows.h>

#include <cstdint>
#else
#include <dirent.h>
#endif

namespace tarvelin::testing {

#if defined(_WIN32)

// Counts this process's valid handles by asking about each handle value in
// turn. Handles are numbered in steps of 4 from 4 and a new one takes the
// lowest free number, so the scan stops after a long run of unused numbers.
// GetProcessHandleCount would be simpler, but Wine answers it with 0; and the
// system-wide table (NtQuerySystemInformation) crashes Wine 8's server when
// other programs start and end during the sweep, as they do under ctest -j2,
// and the test then waits forever on the dead server.
int OpenDescriptors() {
  constexpr std::uintptr_t kStep = 4;
  constexpr int kUnusedRunToStop = 256;
  constexpr std::uintptr_t kLastValue = kStep << 20;
  int count = 0;
  int unused_run = 0;
  for (std::uintptr_t value = kStep; value <= kLastValue && unused_run < kUnusedRunToStop;
       value += kStep) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++count;
      unused_run = 0;
    } else {
      ++unused_run;
    }
  }
  return count;
}

#else

int OpenDescriptors() {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(folder)) count += entry->d_name[0] != '.' ? 1 : 0;
  closedir(folder);
  return count;
}

#endif

}  // namespace tarvelin::testing
