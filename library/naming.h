// SPDX-License-Identifier: MIT
// The names that the split and the merge derive from the one path a host
// gives them. Split and merge find each other's files by these names alone:
//
//   base path      the given path without the extension of its last component
//   manifest       base path + ".DAT" (upper case whatever the path's case)
//   piece n        base path + "." + n in decimal (0, 1, ..., 10, ...)
//   rebuilt file   base path + the given path's extension: the given path
//
// Every name must fit a capacity, its terminator included: the exports take
// names of 259 characters at most (kNameCapacity), the library's own
// functions as long as the system takes them (kLongNameCapacity). A name that
// would not fit is refused (the operations answer RC_INVALID_PATH) before
// anything on disk changes.
#ifndef TARVELIN_LIBRARY_NAMING_H_
#define TARVELIN_LIBRARY_NAMING_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvelin {

constexpr std::size_t kNameCapacity = 260;
constexpr std::size_t kLongNameCapacity = 32768;

// The extension of the manifest, appended to the base path.
extern const wchar_t kManifestExtension[];

// True when `path` is present and shorter than `capacity` characters.
bool PathFits(const wchar_t* path, std::size_t capacity = kNameCapacity);

std::wstring BasePath(const wchar_t* path);
// The last component of `path` in `folder`: ("/media/stick", "/tmp/disk")
// gives "/media/stick/disk". A folder that ends in a separator (or, on
// Windows, a drive's colon) gets none more.
std::wstring InFolder(const std::wstring& folder, const std::wstring& path);
std::wstring ManifestPath(const std::wstring& base_path);
std::wstring PieceName(const std::wstring& base_path, std::int32_t piece);
std::wstring RebuiltName(const wchar_t* path, const std::wstring& base_path);

// True when every piece name from 0 to `highest_piece` fits `capacity`.
bool PieceNamesFit(const std::wstring& base_path, std::uint64_t highest_piece,
                   std::size_t capacity = kNameCapacity);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_NAMING_H_
