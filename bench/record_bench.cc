// SPDX-License-Identifier: MIT
// Reading the record of a huge split: a manifest of N recorded pieces (size 0
// on a 500 GiB file gives a million) read through the split-set model, as
// merge, verify and the tool read it. Prints the time and the peak memory of
// the process, which should both grow linearly: one pass, 16 bytes a piece.
//
//   record_bench [PIECES]   (default 1000000)
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "library/split_set.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace {

constexpr char kFingerprint[] = "9E 10 7D 9D 37 2B B6 82 6B D8 1D 35 42 A4 19 D6";

// The manifest's bytes, as a split writes them.
void WriteManifest(const std::string& path, long pieces) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fprintf(file, "[SrcImageMD5]\r\nMD5_VALUE=%s\r\n[SplitImageMD5]\r\n", kFingerprint);
  for (long piece = 0; piece < pieces; ++piece) {
    std::fprintf(file, "MD5_VALUE%ld=%s\r\n", piece, kFingerprint);
  }
  std::fclose(file);
}

long PeakKiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const long pieces = argc > 1 ? std::atol(argv[1]) : 1000000;
  char folder[] = "/tmp/tarvelin-record-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string manifest = std::string(folder) + "/disk.DAT";
  WriteManifest(manifest, pieces);
  const long before = PeakKiB();

  tarvelin::SplitSet set;
  const std::wstring path = tarvelin::Utf8ToWide(std::string(folder) + "/disk.img");
  set.Derive(path.c_str());
  tarvelin::Platform& platform = tarvelin::DefaultPlatform();
  const auto start = std::chrono::steady_clock::now();
  const tarvelin::FileHandle held =
      platform.CreateFile(set.manifest(), tarvelin::kAccessRead, tarvelin::kShareRead,
                          tarvelin::Disposition::kOpenExistingNoLink,
                          tarvelin::Attribute::kReadOnly);
  if (held == tarvelin::InvalidHandle() || !set.ReadRecord(platform, held)) return 1;
  platform.CloseHandle(held);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("%ld recorded pieces read: %d kept, %.2f s, peak memory %.1f MB (%.1f MB before)\n",
              pieces, set.recorded_count(), seconds, PeakKiB() / 1024.0, before / 1024.0);
  unlink(manifest.c_str());
  rmdir(folder);
  return set.recorded_count() == pieces ? 0 : 1;
}
