// SPDX-License-Identifier: MIT
// Shared by the split and merge tests: a scratch folder with a source file
// and the names of its pieces and manifest.
#ifndef TARVELIN_TESTS_LIBRARY_LIBRARY_TEST_UTIL_H_
#define TARVELIN_TESTS_LIBRARY_LIBRARY_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "library/operations.h"
#include "tests/support/fault_platform.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {

constexpr std::uint64_t kMiB = 1048576;

class Workspace {
 public:
  // `file_name` is the source's name inside a fresh folder, e.g. L"disk.wim".
  explicit Workspace(const std::wstring& file_name = L"disk.wim");

  const std::wstring& source() const { return source_; }
  const std::wstring& base() const { return base_; }
  std::wstring manifest() const { return base_ + L".DAT"; }
  std::wstring piece(int n) const { return base_ + L"." + std::to_wstring(n); }
  TempDir& dir() { return dir_; }

  // Writes `size` pattern bytes to the source and returns them.
  std::string MakeSource(std::uint64_t size, std::uint32_t seed = 1);
  // Sizes of the pieces .0, .1, ... up to the first missing one.
  std::vector<std::uint64_t> PieceSizes() const;
  // The pieces .0, .1, ... concatenated, up to the first missing one.
  std::string JoinedPieces() const;

 private:
  TempDir dir_;
  std::wstring source_;
  std::wstring base_;
};

// Leaves the files as a merge of `original`, split into pieces beside
// `ws.source()`, leaves them when it stops: the file at the path holds the
// first `joined_bytes` of the original, and pieces 0..gone-1 are deleted.
void LeaveInterruptedMerge(const Workspace& ws, const std::string& original,
                           std::uint64_t joined_bytes, int gone);

// The 1-based number of the `occurrence`th call (1-based) of `op` on `path`
// in a recorded run, or 0 when there is none. Runs are deterministic, so a
// fault can be aimed at that call in a second run.
std::uint64_t CallNumber(const std::vector<Call>& calls, Op op, const std::wstring& path,
                         int occurrence = 1);

// The calls with `folder` cut from the front of their paths, so that the
// calls of runs in different scratch folders compare.
std::vector<Call> WithoutFolder(std::vector<Call> calls, const std::wstring& folder);
// `name` as WithoutFolder leaves it: a separator and the name.
std::wstring InFolder(const std::wstring& name);

// The reads that a fingerprint makes of a file of `size` bytes: its full
// requests, a short one if any, and the one that finds the end.
int FingerprintReads(std::uint64_t size);

// Runs Split and Merge through `platform` (or the default one).
ResultCode SplitWith(Platform* platform, const std::wstring& path, std::int32_t mib);
ResultCode MergeWith(Platform* platform, const std::wstring& path);

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_LIBRARY_LIBRARY_TEST_UTIL_H_
