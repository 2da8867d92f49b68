// SPDX-License-Identifier: MIT
// A host program for the tests that kill, limit or race whole processes: it
// runs one split or merge through the library's internal API and reports.
//
//   crash_host [OPTIONS] split PATH MIB
//   crash_host [OPTIONS] merge PATH
//
// --gated: print "ready" and wait for the end of standard input before the
//   operation, so that a test can start several hosts at one moment.
// --max-file-size BYTES: set RLIMIT_FSIZE and ignore SIGXFSZ, so that a
//   write past the limit fails with EFBIG instead of killing the process.
// --folder DIR: the pieces and the manifest are in DIR (a split reads them
//   back past the cache, as the library's functions do with a folder).
// --die-before-change N: the host kills itself with SIGKILL right before its
//   Nth attempt to change something on disk.
//
// On success or failure of the operation it prints one line,
//   RESULT_NAME START_NS END_NS CHANGES
// (monotonic clock around the operation; CHANGES counts the calls that
// changed something on disk) and exits with 0 for RC_OK, 1 otherwise.
// Usage errors exit with 2.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "library/operations.h"
#include "library/result_codes.h"
#include "platform/utf8.h"
#include "tests/reliability_process/change_counting_platform.h"

namespace {

long long MonotonicNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

int Usage() {
  std::fprintf(stderr,
               "usage: crash_host [OPTIONS] split PATH MIB\n"
               "       crash_host [OPTIONS] merge PATH\n"
               "options: --gated --max-file-size BYTES --folder DIR --die-before-change N\n");
  return 2;
}

bool LimitFileSize(const char* text) {
  char* end = nullptr;
  const unsigned long long bytes = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0') return false;
  signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

void WaitForStart() {
  std::printf("ready\n");
  std::fflush(stdout);
  char ignored[64];
  while (read(STDIN_FILENO, ignored, sizeof ignored) > 0) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  bool gated = false;
  std::wstring folder;
  int die_before_change = 0;
  for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; ++arg) {
    if (std::strcmp(argv[arg], "--gated") == 0) {
      gated = true;
    } else if (std::strcmp(argv[arg], "--max-file-size") == 0 && arg + 1 < argc) {
      if (!LimitFileSize(argv[++arg])) return Usage();
    } else if (std::strcmp(argv[arg], "--folder") == 0 && arg + 1 < argc) {
      folder = tarvelin::Utf8ToWide(argv[++arg]);
    } else if (std::strcmp(argv[arg], "--die-before-change") == 0 && arg + 1 < argc) {
      die_before_change = std::atoi(argv[++arg]);
      if (die_before_change <= 0) return Usage();
    } else {
      return Usage();
    }
  }
  if (argc - arg < 2) return Usage();
  const std::string operation = argv[arg];
  const std::wstring path = tarvelin::Utf8ToWide(argv[arg + 1]);
  int piece_size_mib = 0;
  if (operation == "split") {
    if (argc - arg != 3) return Usage();
    piece_size_mib = std::atoi(argv[arg + 2]);
  } else if (operation != "merge" || argc - arg != 2) {
    return Usage();
  }

  if (gated) WaitForStart();
  tarvelin::testing::ChangeCountingPlatform platform;
  platform.DieBeforeChange(die_before_change);
  tarvelin::OperationOptions options;
  options.platform = &platform;
  options.piece_folder = folder;
  if (!folder.empty()) options.flags |= tarvelin::kReadBack;
  const long long start = MonotonicNs();
  const ResultCode result = operation == "split"
                                ? tarvelin::Split(path.c_str(), tarvelin::PieceLimit(piece_size_mib), options)
                                : tarvelin::Merge(path.c_str(), options);
  const long long end = MonotonicNs();
  std::printf("%s %lld %lld %d\n", tarvelin::ResultCodeName(result), start, end,
              platform.changes());
  return result == RC_OK ? 0 : 1;
}
