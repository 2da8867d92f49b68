// SPDX-License-Identifier: MIT
#include "tests/reliability_process/tmpfs_mount.h"

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>

#include "platform/utf8.h"

namespace tarvelin::testing {

TmpfsMount::TmpfsMount(std::uint64_t bytes, std::uint64_t inodes) {
  const std::string options =
      "size=" + std::to_string(bytes) + ",nr_inodes=" + std::to_string(inodes) + ",mode=0700";
  if (mount("tarvelin-test", WideToUtf8(point_.path()).c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
            options.c_str()) == 0) {
    mounted_ = true;
  } else {
    refusal_ = std::string("mounting a tmpfs is not allowed here (") + std::strerror(errno) +
               "); these tests need root with CAP_SYS_ADMIN";
  }
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) umount2(WideToUtf8(point_.path()).c_str(), MNT_DETACH);
}

std::uint64_t TmpfsMount::FreeBytes() const {
  struct statvfs info;
  if (statvfs(WideToUtf8(point_.path()).c_str(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace tarvelin::testing
