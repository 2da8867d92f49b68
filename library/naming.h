// SPDX-License-Identifier: MIT
// The names that the split and the merge derive from the one path a host
// gives them. Split and merge find each other's files by these names alone:
//
//   base path      the given path without the extension of its last component
//   manifest       base path + ".DAT" (upper case whatever the path's case)
//   piece n        base path + "." + n in decimal (0, 1, ..., 10, ...)
//   rebuilt file   base path + the given path's extension: the given path
//
// Every name lives in a buffer of kNameCapacity characters. A name that would
// not fit is refused (the functions return false and the operations answer
// RC_INVALID_PATH) before anything on disk changes.
#ifndef TARVELIN_LIBRARY_NAMING_H_
#define TARVELIN_LIBRARY_NAMING_H_

#include <cstdint>

#include "library/bounded_text.h"

namespace tarvelin {

// The extension of the manifest, appended to the base path.
extern const wchar_t kManifestExtension[];

// True when `path` is present and shorter than kNameCapacity characters.
bool PathFits(const wchar_t* path);

// Each writes a terminated name into `out` (kNameCapacity characters,
// cleared first) and returns false when it would not fit.
bool MakeBasePath(const wchar_t* path, wchar_t* out);
bool MakeManifestPath(const wchar_t* base_path, wchar_t* out);
bool MakePieceName(const wchar_t* base_path, std::int32_t piece, wchar_t* out);
bool MakeRebuiltName(const wchar_t* path, const wchar_t* base_path, wchar_t* out);

// True when every piece name from 0 to `highest_piece` fits.
bool PieceNamesFit(const wchar_t* base_path, std::uint64_t highest_piece);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_NAMING_H_
