// SPDX-License-Identifier: MIT
// The names of the split of a file as the library derives them, for the
// tool's messages: the manifest and the pieces, in the bytes that name them.
#ifndef TARVELIN_CLI_SET_NAMES_H_
#define TARVELIN_CLI_SET_NAMES_H_

#include <cstdint>
#include <string>

namespace tarvelin::cli {

// Empty when `path` gives no names.
std::string ManifestName(const std::string& path);
std::string PieceName(const std::string& path, std::int32_t piece);

// "disk.0", or "disk.0 to disk.6" for the pieces from `first` to `last`.
std::string PieceRange(const std::string& path, std::int32_t first, std::int32_t last);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_SET_NAMES_H_
