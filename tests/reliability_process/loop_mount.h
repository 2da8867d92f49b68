// SPDX-License-Identifier: MIT
// A small ext4 file system in an image file, loop-mounted for one test, so
// that pieces go to another real file system than their source, one that can
// run full, and whose medium (the image file) a test can change below the
// page cache. Making and mounting it needs root, mkfs.ext4 and loop devices;
// where any is missing the mount says why, and the test skips.
#ifndef TARVELIN_TESTS_RELIABILITY_PROCESS_LOOP_MOUNT_H_
#define TARVELIN_TESTS_RELIABILITY_PROCESS_LOOP_MOUNT_H_

#include <cstdint>
#include <string>

#include "tests/support/temp_dir.h"

namespace tarvelin::testing {

class Ext4LoopMount {
 public:
  explicit Ext4LoopMount(std::uint64_t image_bytes);
  ~Ext4LoopMount();
  Ext4LoopMount(const Ext4LoopMount&) = delete;
  Ext4LoopMount& operator=(const Ext4LoopMount&) = delete;

  bool mounted() const { return mounted_; }
  // Why it is not mounted.
  const std::string& refusal() const { return refusal_; }
  // `name` on the mounted file system.
  std::wstring Path(const std::wstring& name) const { return point_ + L"/" + name; }
  // The image file that the loop device reads and writes.
  const std::wstring& image() const { return image_; }
  std::uint64_t FreeBytes() const;

  // Writes `replacement` over the one place in the image that holds
  // `original` (the same size), as a medium that gives back other bytes than
  // it stored. False when `original` is not found exactly once.
  bool ChangeOnMedium(const std::string& original, const std::string& replacement) const;

 private:
  TempDir dir_;
  std::wstring image_;
  std::wstring point_;
  bool mounted_ = false;
  std::string refusal_;
};

// Reads `path` from the medium: its cached pages are written out and dropped
// first, so that the bytes come from the device, not from the page cache.
std::string ReadFromMedium(const std::wstring& path);

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_PROCESS_LOOP_MOUNT_H_
