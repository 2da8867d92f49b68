// SPDX-License-Identifier: MIT
// Throughput of our MD5 engine against OpenSSL's over the same 64 MiB buffer,
// fed whole and in the 1024-byte requests that the file fingerprint makes.
// OpenSSL appears here only, as the yardstick; the library never uses it.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

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

// The whole buffer in one update, and in the fingerprint's 1024-byte reads.
BENCHMARK(BM_TarvelinMd5)->Arg(kBufferSize)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslMd5)->Arg(kBufferSize)->Arg(1024)->Unit(benchmark::kMillisecond);

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
