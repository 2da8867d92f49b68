// SPDX-License-Identifier: MIT
// A verify of a huge record: a manifest of N recorded pieces (a million by
// default), each an empty file, checked once through the public API with a
// piece callback and once by the tool in a process of its own. Prints the
// time and the peak memory of each; the per-piece verdicts stream through
// the callback, so memory grows only with the record (17 bytes a piece).
//
//   verify_bench TOOL [PIECES]
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tarvelin/tarvelin.h"

namespace {

// The fingerprint of no bytes: every piece's, and the source's, joined.
constexpr char kEmpty[] = "D4 1D 8C D9 8F 00 B2 04 E9 80 09 98 EC F8 42 7E";

void MakeSplit(const std::string& folder, long pieces) {
  std::FILE* file = std::fopen((folder + "/disk.DAT").c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fprintf(file, "[SrcImageMD5]\r\nMD5_VALUE=%s\r\n[SplitImageMD5]\r\n", kEmpty);
  for (long piece = 0; piece < pieces; ++piece) {
    std::fprintf(file, "MD5_VALUE%ld=%s\r\n", piece, kEmpty);
    const int fd = open((folder + "/disk." + std::to_string(piece)).c_str(),
                        O_CREAT | O_WRONLY | O_EXCL, 0644);
    if (fd < 0) std::abort();
    close(fd);
  }
  std::fclose(file);
}

struct Counts {
  long ok = 0;
  long other = 0;
};

void TARVELIN_CALLBACK CountPiece(const tarvelin_piece* piece, void* user_data) {
  Counts& counts = *static_cast<Counts*>(user_data);
  ++(piece->state == TARVELIN_PIECE_OK ? counts.ok : counts.other);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: verify_bench TOOL [PIECES]\n");
    return 2;
  }
  const long pieces = argc > 2 ? std::atol(argv[2]) : 1000000;
  char folder[] = "/tmp/tarvelin-verify-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  std::printf("making a split of %ld empty pieces in %s ...\n", pieces, folder);
  std::fflush(stdout);
  MakeSplit(folder, pieces);
  const std::string path = std::string(folder) + "/disk.img";

  // The tool first, in a process of its own, so that its peak is its own;
  // an untimed run before it brings the folder into the cache for both.
  int status = 0;
  struct rusage tool_usage {};
  for (const char* run : {"warm-up", "tool"}) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      execl(argv[1], argv[1], "verify", "-q", path.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    wait4(child, &status, 0, &tool_usage);
    std::printf("%s: exit %d, %.2f s, peak memory %.1f MiB\n", run, WEXITSTATUS(status),
                Since(start), tool_usage.ru_maxrss / 1024.0);
    std::fflush(stdout);
  }

  struct rusage before {};
  getrusage(RUSAGE_SELF, &before);
  Counts counts;
  tarvelin_options options = {};
  options.size = sizeof options;
  options.piece = &CountPiece;
  options.user_data = &counts;
  tarvelin_outcome outcome = {};
  outcome.size = sizeof outcome;
  const auto start = std::chrono::steady_clock::now();
  const ResultCode code = tarvelin_verify(path.c_str(), &options, &outcome);
  const double api_seconds = Since(start);
  struct rusage after {};
  getrusage(RUSAGE_SELF, &after);
  std::printf("API: %s, %ld pieces OK, %ld not, %.2f s, peak memory %.1f MiB (%.1f before)\n",
              tarvelin_code_name(code), counts.ok, counts.other, api_seconds,
              after.ru_maxrss / 1024.0, before.ru_maxrss / 1024.0);

  const std::string clean = "rm -rf '" + std::string(folder) + "'";
  if (std::system(clean.c_str()) != 0) return 1;
  return code == RC_OK && counts.ok == pieces && WEXITSTATUS(status) == 0 ? 0 : 1;
}
