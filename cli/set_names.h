// SPDX-License-Identifier: MIT
// The names of the split of a file as the library derives them, for the
// tool's messages: the manifest and the pieces, in the bytes that name them.
// The functions below take the path that the names are derived from:
// NamesPath() gives it, for the pieces beside the file or in a folder.
#ifndef TARVELIN_CLI_SET_NAMES_H_
#define TARVELIN_CLI_SET_NAMES_H_

#include <cstdint>
#include <string>

namespace tarvelin::cli {

// The path whose names are the split's: `path` itself, or, with a pieces'
// `folder` (--to, --from), the folder and the last component of `path`, as
// the library joins them ('/' between them on POSIX, '\\' on Windows, where
// '/' and a drive's colon also end a component; none when the folder ends
// in a separator already).
std::string NamesPath(const std::string& path, const std::string& folder);

// What follows the last separator of `path` (on Windows also a drive's
// colon), or the whole path.
std::string LastComponent(const std::string& path);

// Empty when `path` gives no names.
std::string ManifestName(const std::string& path);
std::string PieceName(const std::string& path, std::int32_t piece);

// "no manifest beside it" for the names of `path` itself, else "no manifest
// /media/stick/disk.DAT".
std::string NoManifest(const std::string& path, const std::string& names);

// "disk.0", or "disk.0 to disk.6" for the pieces from `first` to `last`.
std::string PieceRange(const std::string& path, std::int32_t first, std::int32_t last);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_SET_NAMES_H_
