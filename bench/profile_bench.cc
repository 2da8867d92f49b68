// SPDX-License-Identifier: MIT
// The manifest's write and read pattern through the POSIX profile engine: one
// source key, then N piece keys, each a new key at the end of the last
// section, as a split writes them; then the N keys read back in order, as a
// merge reads them. Each run starts from a fresh store and a fresh file.
//
// Without the cached document each write would rewrite (and re-read) the
// whole file, O(N^2) in all; with it both phases should grow linearly.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/profile.h"

namespace {

const wchar_t kFingerprint[] = L"9E 10 7D 9D 37 2B B6 82 6B D8 1D 35 42 A4 19 D6";

class ScratchFile {
 public:
  ScratchFile() {
    char folder[] = "/tmp/tarvelin-profile-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) std::abort();
    folder_ = folder;
    path_ = folder_ + "/disk.DAT";
    wide_path_.assign(path_.begin(), path_.end());
  }
  ~ScratchFile() {
    unlink(path_.c_str());
    rmdir(folder_.c_str());
  }
  const wchar_t* path() const { return wide_path_.c_str(); }

 private:
  std::string folder_, path_;
  std::wstring wide_path_;
};

std::vector<std::wstring> PieceKeys(std::int64_t count) {
  std::vector<std::wstring> keys;
  keys.reserve(static_cast<std::size_t>(count));
  for (std::int64_t n = 0; n < count; ++n) keys.push_back(L"MD5_VALUE" + std::to_wstring(n));
  return keys;
}

void WriteManifest(tarvelin::posix::ProfileStore& store, const wchar_t* path,
                   const std::vector<std::wstring>& keys) {
  if (!store.Put(L"SrcImageMD5", L"MD5_VALUE", kFingerprint, path)) std::abort();
  for (const std::wstring& key : keys) {
    if (!store.Put(L"SplitImageMD5", key.c_str(), kFingerprint, path)) std::abort();
  }
}

void BM_WritePieceKeys(benchmark::State& state) {
  const std::vector<std::wstring> keys = PieceKeys(state.range(0));
  for (auto _ : state) {
    ScratchFile file;
    tarvelin::posix::ProfileStore store;
    WriteManifest(store, file.path(), keys);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ReadPieceKeys(benchmark::State& state) {
  const std::vector<std::wstring> keys = PieceKeys(state.range(0));
  ScratchFile file;
  {
    tarvelin::posix::ProfileStore writer;
    WriteManifest(writer, file.path(), keys);
  }
  std::vector<wchar_t> buffer(2048);
  for (auto _ : state) {
    tarvelin::posix::ProfileStore store;
    for (const std::wstring& key : keys) {
      store.Get(L"SplitImageMD5", key.c_str(), L"", buffer.data(), 2048, file.path());
      benchmark::DoNotOptimize(buffer.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_WritePieceKeys)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPieceKeys)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
