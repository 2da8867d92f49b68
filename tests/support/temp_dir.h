// SPDX-License-Identifier: MIT
// Scratch folders and file helpers for tests, on both systems. Paths are wide,
// as the library takes them; files are read and written with the standard
// library, independently of the platform layer under test.
#ifndef TARVELIN_TESTS_SUPPORT_TEMP_DIR_H_
#define TARVELIN_TESTS_SUPPORT_TEMP_DIR_H_

#include <cstdint>
#include <filesystem>
#include <string>

namespace tarvelin::testing {

// A fresh, empty folder, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder itself, without a trailing separator.
  const std::wstring& path() const { return path_; }
  // `name` inside the folder.
  std::wstring Path(const std::wstring& name) const;

 private:
  std::wstring path_;
};

// The std::filesystem form of a wide path (UTF-8 on POSIX).
std::filesystem::path FsPath(const std::wstring& path);

// Deterministic bytes that differ from piece to piece and from seed to seed.
std::string PatternBytes(std::uint64_t size, std::uint32_t seed);

void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
std::uint64_t FileSizeOf(const std::wstring& path);
// Creates `path` with `size` bytes as a sparse file (no data written).
void MakeSparseFile(const std::wstring& path, std::uint64_t size);
// Sets or clears the owner's write bit (the read-only attribute on Windows).
void SetReadOnly(const std::wstring& path, bool read_only);
bool IsReadOnly(const std::wstring& path);

// MD5 of bytes as the fingerprint text, for comparing with the library's.
std::wstring FingerprintOf(const std::string& bytes);

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_SUPPORT_TEMP_DIR_H_
