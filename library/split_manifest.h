// SPDX-License-Identifier: MIT
// The manifest that a split writes: created new and held for writing until
// the split ends, which keeps a second split and a merge's tidy away. Every
// record goes through that handle, never through the manifest's name, and
// before the source goes the file at the name is proved to be this one,
// holding exactly those records (manifest.h).
#ifndef TARVELIN_LIBRARY_SPLIT_MANIFEST_H_
#define TARVELIN_LIBRARY_SPLIT_MANIFEST_H_

#include <cstdint>
#include <vector>

#include "digest/md5.h"
#include "library/manifest.h"
#include "library/operation.h"

namespace tarvelin {

class SplitManifest {
 public:
  explicit SplitManifest(Operation& run) : run_(run) {}
  SplitManifest(const SplitManifest&) = delete;
  SplitManifest& operator=(const SplitManifest&) = delete;

  // The handle, for the operation to hold.
  FileHandle* handle() { return &handle_; }

  // Creates it new, no more open to others than `source`, and records the
  // source's fingerprint: RC_FILE_OPEN when a name taken since the look is
  // in the way, RC_MANIFEST_WRITE for any other failure.
  ResultCode Create(FileHandle source, const unsigned char source_digest[kMd5DigestSize]);
  ResultCode RecordPiece(std::int32_t piece, const unsigned char digest[kMd5DigestSize]);
  // Its bytes, then the folder's entries, to stable storage.
  ResultCode MakeDurable();
  // RC_MANIFEST_WRITE (kChanged) unless the file at its name is this one
  // and holds exactly its records; `unchecked` is the step told when that
  // could not be looked at. `from_medium` reads it past the system's cache,
  // and other bytes than written are then the medium's fault
  // (RC_FILE_WRITE, kReadBack).
  ResultCode Prove(FailedStep unchecked, bool from_medium = false);
  // Appends it, as it stands now through its handle, to the files kept
  // while the source is deleted.
  ResultCode AddKept(std::vector<KeptFile>* kept);

 private:
  Operation& run_;
  FileHandle handle_ = nullptr;
  ManifestWriter records_;
};

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_SPLIT_MANIFEST_H_
