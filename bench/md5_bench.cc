// SPDX-License-Identifier: MIT
// Throughput of our MD5 engine against OpenSSL's over the same 64 MiB buffer,
// fed whole and in the requests that the file fingerprint makes, and of our
// two-lane update against two OpenSSL contexts.
// OpenSSL appears here only, as the yardstick; the library never uses it.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "digest/fingerprint.h"
#include "digest/md5.h"

namespace {

constexpr std::size_t kBufferSize = 64u << 20;

const std::vector<unsigned char>& Buffer() {
  static const std::vector<unsigned char> buffer = [] {
    std::vector<unsigned char> bytes(kBufferSize);
    std::uint32_t state = 0x9e3779b9u;
    for (auto& byte : bytes) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      byte = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
  }();
  return buffer;
}

// Feeds the whole buffer in requests of `piece` bytes.
void BM_TarvelinMd5(benchmark::State& state) {
  const auto& buffer = Buffer();
  const std::size_t piece = static_cast<std::size_t>(state.range(0));
  unsigned char digest[tarvelin::kMd5DigestSize];
  for (auto _ : state) {
    tarvelin::Md5Context context;
    tarvelin::Md5Init(&context);
    for (std::size_t offset = 0; offset < buffer.size(); offset += piece) {
      tarvelin::Md5Update(&context, buffer.data() + offset, static_cast<std::int32_t>(piece));
    }
    tarvelin::Md5Final(&context, digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(buffer.size()));
}

void BM_OpenSslMd5(benchmark::State& state) {
  const auto& buffer = Buffer();
  const std::size_t piece = static_cast<std::size_t>(state.range(0));
  const EVP_MD* md5 = EVP_md5();
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context == nullptr) {
    state.SkipWithError("EVP_MD_CTX_new failed");
    return;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  for (auto _ : state) {
    EVP_DigestInit_ex(context, md5, nullptr);
    for (std::size_t offset = 0; offset < buffer.size(); offset += piece) {
      EVP_DigestUpdate(context, buffer.data() + offset, piece);
    }
    EVP_DigestFinal_ex(context, digest, &digest_size);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_CTX_free(context);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(buffer.size()));
}

// The whole buffer in one update, in the fingerprint's reads, and in 1 KiB.
BENCHMARK(BM_TarvelinMd5)
    ->Arg(kBufferSize)
    ->Arg(tarvelin::kFingerprintReadSize)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslMd5)
    ->Arg(kBufferSize)
    ->Arg(tarvelin::kFingerprintReadSize)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond);

// Two digests of the same bytes, as the verify keeps one of each piece and
// one of the pieces joined: our two-lane update against two OpenSSL contexts
// updated in turn, each request while it is still in the cache. Throughput
// counts each byte once; the goal is 1.6 times OpenSSL's.
void BM_TarvelinMd5Both(benchmark::State& state) {
  const auto& buffer = Buffer();
  const std::size_t piece = static_cast<std::size_t>(state.range(0));
  unsigned char digest[tarvelin::kMd5DigestSize];
  for (auto _ : state) {
    tarvelin::Md5Context first, second;
    tarvelin::Md5Init(&first);
    tarvelin::Md5Init(&second);
    for (std::size_t offset = 0; offset < buffer.size(); offset += piece) {
      tarvelin::Md5UpdateBoth(&first, &second, buffer.data() + offset,
                              static_cast<std::int32_t>(piece));
    }
    tarvelin::Md5Final(&first, digest);
    benchmark::DoNotOptimize(digest);
    tarvelin::Md5Final(&second, digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(buffer.size()));
}

void BM_OpenSslMd5InTurn(benchmark::State& state) {
  const auto& buffer = Buffer();
  const std::size_t piece = static_cast<std::size_t>(state.range(0));
  const EVP_MD* md5 = EVP_md5();
  EVP_MD_CTX* first = EVP_MD_CTX_new();
  EVP_MD_CTX* second = EVP_MD_CTX_new();
  if (first == nullptr || second == nullptr) {
    state.SkipWithError("EVP_MD_CTX_new failed");
  } else {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_size = 0;
    for (auto _ : state) {
      EVP_DigestInit_ex(first, md5, nullptr);
      EVP_DigestInit_ex(second, md5, nullptr);
      for (std::size_t offset = 0; offset < buffer.size(); offset += piece) {
        EVP_DigestUpdate(first, buffer.data() + offset, piece);
        EVP_DigestUpdate(second, buffer.data() + offset, piece);
      }
      EVP_DigestFinal_ex(first, digest, &digest_size);
      benchmark::DoNotOptimize(digest);
      EVP_DigestFinal_ex(second, digest, &digest_size);
      benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(buffer.size()));
  }
  EVP_MD_CTX_free(first);
  EVP_MD_CTX_free(second);
}

BENCHMARK(BM_TarvelinMd5Both)->Arg(tarvelin::kFingerprintReadSize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslMd5InTurn)->Arg(tarvelin::kFingerprintReadSize)->Unit(benchmark::kMillisecond);

// Both engines must agree before their speeds mean anything.
bool DigestsAgree() {
  const auto& buffer = Buffer();
  unsigned char ours[tarvelin::kMd5DigestSize];
  tarvelin::Md5Context context;
  tarvelin::Md5Init(&context);
  tarvelin::Md5Update(&context, buffer.data(), static_cast<std::int32_t>(buffer.size()));
  tarvelin::Md5Final(&context, ours);

  unsigned char theirs[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(buffer.data(), buffer.size(), theirs, &size, EVP_md5(), nullptr) != 1) return false;
  return size == tarvelin::kMd5DigestSize &&
         std::equal(ours, ours + tarvelin::kMd5DigestSize, theirs);
}

}  // namespace

int main(int argc, char** argv) {
  if (!DigestsAgree()) {
    std::fprintf(stderr, "md5_bench: our digest differs from OpenSSL's\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
