// SPDX-License-Identifier: MIT
// One split as it stands on disk: the names derived from the path a user
// gives, what its manifest records, which pieces are there and which piece
// files lie beyond the record. The split writes through it, and the merge,
// the verify and the tool read through it, so that the manifest's layout
// and the walk over the pieces live in one place.
#ifndef TARVELIN_LIBRARY_SPLIT_SET_H_
#define TARVELIN_LIBRARY_SPLIT_SET_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "digest/md5.h"
#include "library/naming.h"
#include "platform/platform.h"

namespace tarvelin {

// A fingerprint as the manifest records it, kept as its 16 digest bytes.
// A recorded text matches a file only when it is exactly the file's
// fingerprint text; one that is not a fingerprint text as this library
// writes it (47 characters, upper-case pairs, single spaces) matches none.
struct RecordedFingerprint {
  bool well_formed = false;
  unsigned char digest[kMd5DigestSize] = {};

  bool Matches(const unsigned char* file_digest) const;
  bool Matches(const wchar_t* file_text) const;
  // The all-zero text, which a splitter records for a file that it could
  // not open (a peer that opens by a narrow name, given a name outside
  // ASCII, for one): it vouches for no bytes.
  bool IsZero() const;
};

// Parses a fingerprint text; false for anything that is not one.
bool ParseFingerprintText(const wchar_t* text, unsigned char digest[kMd5DigestSize]);
bool ParseFingerprintText(std::string_view text, unsigned char digest[kMd5DigestSize]);

class SplitSet {
 public:
  // Derives every name from `path`: the pieces and the manifest beside it,
  // or, with a `piece_folder`, in that folder under the path's base name.
  // False when one would not fit in `capacity` characters (the operations
  // answer RC_INVALID_PATH).
  bool Derive(const wchar_t* path, std::size_t capacity = kNameCapacity,
              const std::wstring& piece_folder = std::wstring());

  // True when one of the names is a device's on this system (Windows:
  // "nul.img", "AUX.DAT"), which no operation may open.
  bool NamesADevice() const;

  // What the path given is, when it is part of a split rather than a file
  // to rebuild: kIsTheManifest (its base path's manifest), a piece number
  // (a piece of the split whose manifest `manifest_there` says exists), or
  // kNotAPart.
  static constexpr std::int32_t kNotAPart = -2;
  static constexpr std::int32_t kIsTheManifest = -1;
  std::int32_t PartOfASplit(bool manifest_there) const;

  const wchar_t* path() const { return path_.c_str(); }
  const wchar_t* base() const { return base_.c_str(); }
  const wchar_t* manifest() const { return manifest_.c_str(); }
  const wchar_t* rebuilt() const { return rebuilt_.c_str(); }

  // The name of piece `piece`, or an empty string when it would not fit.
  std::wstring PieceName(std::int32_t piece) const;
  // True when every piece name from 0 to `highest_piece` fits.
  bool PieceNamesFit(std::uint64_t highest_piece) const;

  // Reads the manifest that `manifest` holds open (with read access), in one
  // pass through that handle: the source's fingerprint, and the piece
  // fingerprints from 0 up to the first key that is missing or empty, as the
  // keyed reads of the profile functions would find them. Returns false,
  // recording nothing, when a read fails (its last-error value stands) or
  // memory runs out (kErrorNotEnoughMemory).
  bool ReadRecord(Platform& platform, FileHandle manifest);

  bool source_recorded() const { return source_recorded_; }
  const RecordedFingerprint& source() const { return source_; }
  std::int32_t recorded_count() const { return static_cast<std::int32_t>(recorded_.size()); }
  const RecordedFingerprint& recorded(std::int32_t piece) const {
    return recorded_[static_cast<std::size_t>(piece)];
  }
  // True when every recorded piece's name fits.
  bool RecordedNamesFit() const;

  // The sizes of the recorded pieces from piece `first` up to the first
  // that does not exist (a merge joins no further), or with `through_gaps`
  // of every recorded piece from `first`, a missing one counting 0. A size
  // that cannot be read counts 0. May throw std::bad_alloc.
  std::vector<std::uint64_t> PieceSizes(Platform& platform, bool through_gaps = false,
                                        std::int32_t first = 0) const;
  // The piece files that exist from `first` up to the first gap; with
  // recorded_count() as `first`, the files a merge never takes because the
  // manifest does not record them. May throw std::bad_alloc.
  std::vector<std::wstring> PieceFilesFrom(Platform& platform, std::int32_t first) const;

 private:
  std::size_t capacity_ = kNameCapacity;
  std::wstring path_;
  std::wstring base_;
  std::wstring manifest_;
  std::wstring rebuilt_;
  bool source_recorded_ = false;
  RecordedFingerprint source_;
  std::vector<RecordedFingerprint> recorded_;
};

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_SPLIT_SET_H_
