// SPDX-License-Identifier: MIT
#include "tests/support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "digest/fingerprint.h"
#include "digest/md5.h"
#include "platform/utf8.h"

namespace tarvelin::testing {

std::filesystem::path FsPath(const std::wstring& path) {
#if defined(_WIN32)
  return std::filesystem::path(path);
#else
  return std::filesystem::path(WideToUtf8(path));
#endif
}

namespace {

std::wstring FromFs(const std::filesystem::path& path) {
#if defined(_WIN32)
  return path.wstring();
#else
  return Utf8ToWide(path.string());
#endif
}

std::atomic<unsigned> g_counter{0};

}  // namespace

TempDir::TempDir() {
  const auto base = std::filesystem::temp_directory_path();
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("tarvelin-test-" + std::to_string(stamp) + "-" +
                             std::to_string(g_counter.fetch_add(1)));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = FromFs(candidate);
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder");
}

TempDir::~TempDir() {
  std::error_code error;
  // Read-only files inside would stop remove_all on Windows.
  for (auto it = std::filesystem::recursive_directory_iterator(FsPath(path_), error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, error);
  }
  std::filesystem::remove_all(FsPath(path_), error);
}

std::wstring TempDir::Path(const std::wstring& name) const {
#if defined(_WIN32)
  return path_ + L"\\" + name;
#else
  return path_ + L"/" + name;
#endif
}

std::string PatternBytes(std::uint64_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 12345u;
  for (std::uint64_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes[i] = static_cast<char>(state >> 24);
  }
  return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write a test file");
}

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read a test file");
  // One read of the whole file: the sweeps read pieces thousands of times.
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool FileExists(const std::wstring& path) {
  std::error_code error;
  return std::filesystem::exists(FsPath(path), error);
}

std::uint64_t FileSizeOf(const std::wstring& path) {
  return std::filesystem::file_size(FsPath(path));
}

void MakeSparseFile(const std::wstring& path, std::uint64_t size) {
  { std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(FsPath(path), size);
}

void SetReadOnly(const std::wstring& path, bool read_only) {
  std::filesystem::permissions(FsPath(path), std::filesystem::perms::owner_write |
                                                 std::filesystem::perms::group_write |
                                                 std::filesystem::perms::others_write,
                               read_only ? std::filesystem::perm_options::remove
                                         : std::filesystem::perm_options::add);
}

bool IsReadOnly(const std::wstring& path) {
  auto perms = std::filesystem::status(FsPath(path)).permissions();
  return (perms & std::filesystem::perms::owner_write) == std::filesystem::perms::none;
}

std::wstring FingerprintOf(const std::string& bytes) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, bytes.data(), static_cast<std::int32_t>(bytes.size()));
  unsigned char digest[16];
  Md5Final(&context, digest);
  wchar_t text[kFingerprintTextCapacity] = {};
  FormatFingerprintText(digest, text);
  return text;
}

}  // namespace tarvelin::testing
