// SPDX-License-Identifier: MIT
// The manifest: an INI file beside the pieces that ties them to the whole.
//
//   [SrcImageMD5]
//   MD5_VALUE=<fingerprint text of the source>
//   [SplitImageMD5]
//   MD5_VALUE0=<fingerprint text of piece 0>
//   MD5_VALUE1=...
//
// The split writes the entries in this order, each piece's key right after
// the piece is complete; the merge reads the keys from 0 up to the first one
// that reads empty. It is written and read through the platform's profile
// functions, so its bytes are those that Windows writes.
#ifndef TARVELIN_LIBRARY_MANIFEST_H_
#define TARVELIN_LIBRARY_MANIFEST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarvelin {

extern const wchar_t kSourceSection[];  // "SrcImageMD5"
extern const wchar_t kPieceSection[];   // "SplitImageMD5"
extern const wchar_t kValueKey[];       // "MD5_VALUE"

// The longest value read back; longer ones come back cut.
constexpr std::uint32_t kManifestValueCapacity = 2048;

// Writes the key of piece `piece` ("MD5_VALUE" and the number) into `out` of
// kNameCapacity characters.
bool MakePieceKey(std::int32_t piece, wchar_t* out);

// The value of `key` in `section`, or an empty string when the manifest, the
// section or the key is missing. May throw std::bad_alloc.
std::wstring ReadManifestValue(Platform& platform, const wchar_t* section, const wchar_t* key,
                               const wchar_t* manifest_path);


}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_MANIFEST_H_
