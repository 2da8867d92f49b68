// SPDX-License-Identifier: MIT
#include "cli/space_check.h"

#include "cli/messages.h"
#include "library/file_helpers.h"
#include "platform/disk_space.h"

namespace tarvelin::cli {

std::uint64_t SplitNeeds(Platform& platform, const SplitSet& set) {
  std::uint64_t size = 0;
  QueryFileSize(platform, set.path(), &size);
  return size;
}

std::uint64_t MergeNeeds(Platform& platform, const SplitSet& set) {
  std::uint64_t largest = 0;
  for (std::uint64_t size : set.PieceSizes(platform)) {
    if (size > largest) largest = size;
  }
  return largest;
}

bool EnoughSpace(const std::wstring& path, std::uint64_t needed, const std::string& what,
                 std::string* refusal) {
  std::uint64_t available = 0;
  if (!FreeSpaceOf(path.c_str(), &available) || available >= needed) return true;
  *refusal = "not enough free space: " + what + " " + BytesText(needed) +
             " and the file system has " + BytesText(available) +
             " free (--no-space-check tries anyway)";
  return false;
}

}  // namespace tarvelin::cli
