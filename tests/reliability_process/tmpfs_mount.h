// SPDX-License-Identifier: MIT
// A small tmpfs mounted for one test, so that a real file system runs out of
// space or of inodes under the library. Mounting needs root (CAP_SYS_ADMIN);
// where it is refused the mount says why, and the test skips.
#ifndef TARVELIN_TESTS_RELIABILITY_PROCESS_TMPFS_MOUNT_H_
#define TARVELIN_TESTS_RELIABILITY_PROCESS_TMPFS_MOUNT_H_

#include <cstdint>
#include <string>

#include "tests/support/temp_dir.h"

namespace tarvelin::testing {

class TmpfsMount {
 public:
  // `bytes` of data (rounded up to pages) and `inodes` (the root folder
  // takes one) on a fresh mount point.
  TmpfsMount(std::uint64_t bytes, std::uint64_t inodes);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool mounted() const { return mounted_; }
  // Why the mount failed.
  const std::string& refusal() const { return refusal_; }
  std::wstring Path(const std::wstring& name) const { return point_.Path(name); }
  // Bytes still free for file data.
  std::uint64_t FreeBytes() const;

 private:
  TempDir point_;
  bool mounted_ = false;
  std::string refusal_;
};

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_PROCESS_TMPFS_MOUNT_H_
