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
// the piece is complete, as CR LF lines with no blank line between: the bytes
// that Windows' WritePrivateProfileStringW writes for the same entries, so
// that a manifest moves between systems and peers unchanged. It writes them
// through the handle it holds, never through the manifest's name. The merge
// reads the keys from 0 up to the first one that reads empty, as the profile
// functions would read them (split_set.h).
#ifndef TARVELIN_LIBRARY_MANIFEST_H_
#define TARVELIN_LIBRARY_MANIFEST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "platform/platform.h"

namespace tarvelin {

extern const wchar_t kSourceSection[];  // "SrcImageMD5"
extern const wchar_t kPieceSection[];   // "SplitImageMD5"
extern const wchar_t kValueKey[];       // "MD5_VALUE"

// The longest value read back; longer ones come back cut.
constexpr std::uint32_t kManifestValueCapacity = 2048;

// The key of piece `piece`: "MD5_VALUE" and the number.
std::wstring PieceKey(std::int32_t piece);

// The value of `key` in `section` through the platform's profile function,
// or an empty string when the manifest, the section or the key is missing.
// May throw std::bad_alloc.
std::wstring ReadManifestValue(Platform& platform, const wchar_t* section, const wchar_t* key,
                               const wchar_t* manifest_path);

// The bytes that record the source's fingerprint, and those that record
// piece `piece` after the pieces before it (piece 0 opens its section).
std::string SourceRecordText(const unsigned char source[kMd5DigestSize]);
std::string PieceRecordText(std::int32_t piece, const unsigned char digest[kMd5DigestSize]);

// The manifest that a split holds: each record is written through the
// split's handle as it comes, and what was written is kept count of, so that
// before the source goes the split can prove that the file at the
// manifest's name is still the one it created and holds exactly its records.
class ManifestWriter {
 public:
  ManifestWriter() { Md5Init(&written_); }

  // Appends `text` through `manifest` (open for writing, at its end). False
  // when the write fails or takes fewer bytes (kErrorWriteFault).
  bool Append(Platform& platform, FileHandle manifest, const std::string& text);
  enum class Check {
    kIntact,    // `path` names the file held, which holds exactly what was appended
    kChanged,   // another file or a link has the name (kErrorFileExists), or the
                // file holds other bytes (kErrorWriteFault)
    kUnchecked, // a call failed; its last-error value stands
  };
  // Whether `path` still names the file that `manifest` holds (no link, no
  // other file put there since) and it holds exactly the bytes appended, as
  // read through the name; `from_medium` reads them past the system's cache.
  Check CheckAt(Platform& platform, FileHandle manifest, const wchar_t* path,
                bool from_medium = false);

 private:
  Md5Context written_;
  std::uint64_t size_ = 0;
};

// Whether every byte of `file` (open for reading) is, in order, the start of
// the manifest that a split of the source with fingerprint `source` writes
// while it cuts the pieces whose fingerprints are `pieces`: such a file holds
// nothing that the source and those pieces do not, and records nothing
// beyond them. An empty file is such a start. False also when a read fails.
bool HoldsOnlyRecordOf(Platform& platform, FileHandle file,
                       const unsigned char source[kMd5DigestSize],
                       const std::vector<Md5Digest>& pieces);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_MANIFEST_H_
