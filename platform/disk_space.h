// SPDX-License-Identifier: MIT
// How much room is left on the file system that would receive a new file.
// The tool asks before a split or a merge, so that it can refuse up front
// instead of failing part way with a full disk.
#ifndef TARVELIN_PLATFORM_DISK_SPACE_H_
#define TARVELIN_PLATFORM_DISK_SPACE_H_

#include <cstdint>

namespace tarvelin {

// Stores in *free_bytes the bytes that this process may still write on the
// file system of the folder that holds `path` (the file itself need not
// exist; a path without a folder part means the current folder). Space kept
// for the administrator is not counted. Returns false when the folder cannot
// be examined; *free_bytes is then untouched.
bool FreeSpaceOf(const wchar_t* path, std::uint64_t* free_bytes);

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_DISK_SPACE_H_
