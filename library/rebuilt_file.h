// SPDX-License-Identifier: MIT
// The file that a merge rebuilds at the path given. It is only ever
// appended to, and each piece appended is read back: the bytes must be the
// piece as proved, and they feed the digest of the whole, which so proves
// the whole without another pass.
//
// After every change that the merge makes, the file is noted as it stands
// (identity, size and times). A piece or the manifest is deleted only while
// the file stands at its name exactly as noted, compared once more in the
// call that deletes (Platform::DeleteAndClose): nobody else having written
// to it, what it holds of the pieces gone is all of them (judged_file.h).
// A failure part way through a piece cuts it back to the pieces that it
// holds whole, so that the file followed by the pieces left is the original.
#ifndef TARVELIN_LIBRARY_REBUILT_FILE_H_
#define TARVELIN_LIBRARY_REBUILT_FILE_H_

#include <cstdint>
#include <string>

#include "digest/md5.h"
#include "library/joined_pieces.h"
#include "library/operation.h"

namespace tarvelin {

class RebuiltFile {
 public:
  explicit RebuiltFile(Operation& run) : run_(run) { Md5Init(&whole_); }
  RebuiltFile(const RebuiltFile&) = delete;
  RebuiltFile& operator=(const RebuiltFile&) = delete;

  // The handle, for the operation to hold.
  FileHandle* handle() { return &handle_; }
  FileHandle held() const { return handle_; }
  // Where the pieces that it holds whole end.
  std::uint64_t end() const { return end_; }

  // Creates it new, no more open to others than `model`, and makes its
  // folder entry durable: a file that appeared since the look may be the
  // only copy of someone's bytes, and a link there leads to a file that is
  // not ours. Written in append mode, so that one cut short by another
  // program shows in its size.
  ResultCode Create(FileHandle model);
  // Opens the file already at the path, a link not followed, with write
  // access and read sharing until the merge ends: a split holds its source
  // with read sharing, so neither takes the other's file.
  ResultCode OpenExisting();
  // Goes on after the pieces that `found` proved joined in it.
  void GoOnAfter(const JoinedPieces& found);
  // Cuts off what follows `end`.
  ResultCode CutTo(std::uint64_t end);
  ResultCode Flush();
  ResultCode FlushFolder();

  // Notes it as it stands, which must be `expected_size` bytes: a write that
  // reported more than it stored, or a file cut short meanwhile, would
  // otherwise let the pieces go.
  ResultCode Note(std::uint64_t expected_size);
  // Nobody else may have written to it since it was noted, nor put another
  // file at its name.
  ResultCode CheckNoted();

  // Appends piece `piece`, held through `file` and proved as `judged` with
  // the fingerprint `recorded`, then reads it back and notes the file. The
  // piece then waits for its deletion.
  ResultCode Append(FileHandle file, std::int32_t piece, const FileInformation& judged,
                    const RecordedFingerprint& recorded);
  bool piece_waits() const { return waiting_ >= 0; }
  // Makes every byte appended so far durable, then deletes the piece that
  // waits, if one does, as it was proved.
  ResultCode FlushAndDeleteWaiting();
  // Whether the bytes read back so far have the fingerprint `recorded`.
  bool WholeIs(const RecordedFingerprint& recorded) const;

  // Deletes `name`, judged as `judged`, only while this file stands as
  // noted; `let_go`, a handle on the file to delete, is closed right before.
  // A file that is gone already needs no deletion. A merge asked to keep
  // its pieces (kKeepPieces) deletes nothing here, and checks the same.
  ResultCode DeleteWhileNoted(const std::wstring& name, FileRole role, std::int32_t piece,
                              const FileInformation& judged, FileHandle* let_go = nullptr);

  // On a failure: cuts off the bytes of a piece appended in part. A cut that
  // fails leaves them for the next merge; the last-error value keeps naming
  // the failure.
  void CutBack();

 private:
  ResultCode ReadBack(std::uint64_t from, std::uint64_t size,
                      const RecordedFingerprint& recorded);

  Operation& run_;
  FileHandle handle_ = nullptr;
  // The file as this merge last left it.
  FileInformation noted_;
  // Where the pieces that it holds whole end; whether bytes of the next may
  // follow them.
  std::uint64_t end_ = 0;
  bool partial_ = false;
  // The piece appended last and still on disk (-1 for none), as proved.
  std::int32_t waiting_ = -1;
  FileInformation waiting_judged_;
  // Its bytes, as read back after each append.
  Md5Context whole_;
};

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_REBUILT_FILE_H_
