// SPDX-License-Identifier: MIT
#include "tests/reliability_process/loop_mount.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/utf8.h"

namespace tarvelin::testing {
namespace {

std::string Quoted(const std::wstring& path) { return "'" + WideToUtf8(path) + "'"; }

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace

Ext4LoopMount::Ext4LoopMount(std::uint64_t image_bytes)
    : image_(dir_.Path(L"ext4.img")), point_(dir_.Path(L"mount")) {
  if (geteuid() != 0) {
    refusal_ = "loop-mounting an ext4 image needs root";
    return;
  }
  if (!Run("command -v mkfs.ext4 >/dev/null 2>&1")) {
    refusal_ = "loop-mounting an ext4 image needs mkfs.ext4 (e2fsprogs)";
    return;
  }
  const std::string make = "truncate -s " + std::to_string(image_bytes) + " " + Quoted(image_) +
                           " && mkdir " + Quoted(point_) + " && mkfs.ext4 -q -F -m 0 " +
                           Quoted(image_) + " >/dev/null 2>&1";
  if (!Run(make)) {
    refusal_ = "could not make an ext4 image: " + make;
    return;
  }
  // A container may offer root and still have no loop devices.
  const std::string mount =
      "mount -o loop " + Quoted(image_) + " " + Quoted(point_) + " >/dev/null 2>&1";
  if (!Run(mount)) {
    refusal_ = "could not loop-mount an ext4 image (no loop devices?): " + mount;
    return;
  }
  mounted_ = true;
}

Ext4LoopMount::~Ext4LoopMount() {
  // The loop device that mount -o loop set up goes with the mount.
  if (mounted_ && !Run("umount " + Quoted(point_))) Run("umount -l " + Quoted(point_));
}

std::uint64_t Ext4LoopMount::FreeBytes() const {
  struct statvfs info;
  if (statvfs(WideToUtf8(point_).c_str(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

bool Ext4LoopMount::ChangeOnMedium(const std::string& original,
                                   const std::string& replacement) const {
  if (original.empty() || original.size() != replacement.size()) return false;
  const std::string image = ReadFileBytes(image_);
  const std::size_t at = image.find(original);
  if (at == std::string::npos || image.find(original, at + 1) != std::string::npos) return false;
  const int fd = open(WideToUtf8(image_).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = pwrite(fd, replacement.data(), replacement.size(),
                              static_cast<off_t>(at)) == static_cast<ssize_t>(replacement.size());
  return close(fd) == 0 && written;
}

std::string ReadFromMedium(const std::wstring& path) {
  const int fd = open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  fdatasync(fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  std::string bytes;
  char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(got));
  close(fd);
  return bytes;
}

}  // namespace tarvelin::testing
