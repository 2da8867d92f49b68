// SPDX-License-Identifier: MIT
// The pieces that a split cuts. Each is created new under its name, no more
// open to others than the source from its first byte, and written in whole
// chunks; once complete it is fingerprinted through the handle that wrote
// it, the same bytes feeding one digest of all the pieces joined, and noted
// as it stands once closed. From then until the source is gone each must
// keep exactly that identity, size and times: a piece that another program
// replaced or wrote to since it was cut keeps the source.
#ifndef TARVELIN_LIBRARY_CUT_PIECES_H_
#define TARVELIN_LIBRARY_CUT_PIECES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "library/operation.h"

namespace tarvelin {

class CutPieces {
 public:
  explicit CutPieces(Operation& run) : run_(run) { Md5Init(&joined_); }
  CutPieces(const CutPieces&) = delete;
  CutPieces& operator=(const CutPieces&) = delete;

  // The piece being written or flushed, for the operation to hold.
  FileHandle* handle() { return &piece_; }
  // The pieces created so far.
  std::int32_t count() const { return static_cast<std::int32_t>(pieces_.size()); }

  // Creates the next piece, new, no more open to others than `source`.
  ResultCode CreateNext(FileHandle source);
  // Appends `size` bytes to the piece being cut.
  ResultCode Write(const unsigned char* bytes, std::uint32_t size);
  // Fingerprints the piece being cut, which must end up holding `size`
  // bytes, into `digest` and the joined digest; closes it and notes it.
  ResultCode Finish(std::uint64_t size, unsigned char digest[kMd5DigestSize]);
  // Whether the pieces finished, joined in order, have the MD5 `digest`.
  bool JoinedAre(const unsigned char digest[kMd5DigestSize]);

  // Reopens every piece with the write access that a flush needs, proves it
  // unchanged through that handle, and puts it on stable storage.
  ResultCode MakeDurable();
  // Reads every durable piece back from the medium, past the system's cache,
  // and proves it against the fingerprint taken as it was cut.
  ResultCode ProveOnMedium();
  // Proves every piece at its name unchanged.
  ResultCode Confirm();
  // Appends every piece, as noted, to the files kept while the source is
  // deleted; their names live as long as this object.
  void AddKept(std::vector<KeptFile>* kept);

 private:
  // A piece that another program replaced or wrote to since it was cut.
  ResultCode Changed(std::int32_t piece);

  Operation& run_;
  FileHandle piece_ = nullptr;
  // Each piece as it stood once written and closed.
  std::vector<FileInformation> pieces_;
  // Each piece's fingerprint, as recorded.
  std::vector<Md5Digest> digests_;
  // The pieces as read back for their fingerprints, joined.
  Md5Context joined_;
  std::vector<std::wstring> names_;
};

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_CUT_PIECES_H_
