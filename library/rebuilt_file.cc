// SPDX-License-Identifier: MIT
#include "library/rebuilt_file.h"

#include "library/existing_file.h"
#include "library/judged_file.h"
#include "platform/platform_errors.h"

namespace tarvelin {

ResultCode RebuiltFile::Create(FileHandle model) {
  Platform& platform = run_.platform();
  handle_ = platform.CreateFile(run_.set().rebuilt(),
                                kAccessRead | kAccessWrite | kAccessAppend, kShareNone,
                                Disposition::kCreateNew, Attribute::kNormal, model);
  if (handle_ == InvalidHandle()) {
    handle_ = nullptr;
    const bool taken = platform.GetLastError() == kErrorFileExists;
    return run_.FailRebuilt(RC_FILE_OPEN, taken ? FailedStep::kAppeared : FailedStep::kCreate);
  }
  // The new file's folder entry must be durable before any piece goes.
  const ResultCode result = FlushFolder();
  if (result != RC_OK) return result;
  return Note(0);
}

ResultCode RebuiltFile::OpenExisting() {
  Platform& platform = run_.platform();
  handle_ = platform.CreateFile(run_.set().rebuilt(),
                                kAccessRead | kAccessWrite | kAccessAppend, kShareRead,
                                Disposition::kOpenExistingNoLink, Attribute::kNormal);
  if (handle_ != InvalidHandle()) return RC_OK;
  handle_ = nullptr;
  return VerdictOfFailedOpen(platform.GetLastError()) == ExistingVerdict::kNotOurs
             ? run_.FailRebuilt(RC_FILE_OPEN, FailedStep::kNotOurs)
             : run_.FailRebuilt(RC_FILE_READ, FailedStep::kOpen);
}

void RebuiltFile::GoOnAfter(const JoinedPieces& found) {
  end_ = found.end;
  whole_ = found.whole_at_end;
}

ResultCode RebuiltFile::CutTo(std::uint64_t end) {
  if (!run_.platform().SetFilePointer(handle_, end) || !run_.platform().SetEndOfFile(handle_)) {
    return run_.FailRebuilt(RC_FILE_WRITE, FailedStep::kCut);
  }
  return RC_OK;
}

ResultCode RebuiltFile::Flush() {
  if (run_.platform().FlushFileBuffers(handle_)) return RC_OK;
  return run_.FailRebuilt(RC_FILE_WRITE, FailedStep::kFlush);
}

ResultCode RebuiltFile::FlushFolder() {
  if (run_.platform().FlushFolderOf(run_.set().rebuilt())) return RC_OK;
  return run_.FailRebuilt(RC_FILE_WRITE, FailedStep::kFlushFolder);
}

ResultCode RebuiltFile::Note(std::uint64_t expected_size) {
  Platform& platform = run_.platform();
  if (!platform.GetFileInformationByHandle(handle_, &noted_)) {
    return run_.FailRebuilt(RC_FILE_WRITE, FailedStep::kWrite);
  }
  if (noted_.size != expected_size) {
    platform.SetLastError(kErrorWriteFault);
    return run_.FailRebuilt(RC_FILE_WRITE, FailedStep::kWrite);
  }
  return RC_OK;
}

ResultCode RebuiltFile::CheckNoted() {
  Platform& platform = run_.platform();
  FileInformation now;
  if (!platform.GetFileInformationByHandle(handle_, &now)) {
    return run_.FailRebuilt(RC_FILE_WRITE, FailedStep::kWrite);
  }
  if (!SameFileUnchanged(noted_, now) ||
      CheckName(platform, run_.set().rebuilt(), handle_) == NameCheck::kOther) {
    platform.SetLastError(kErrorFileExists);
    return run_.FailRebuilt(RC_FILE_WRITE, FailedStep::kChanged);
  }
  return RC_OK;
}

ResultCode RebuiltFile::Append(FileHandle file, std::int32_t piece,
                               const FileInformation& judged,
                               const RecordedFingerprint& recorded) {
  const std::uint64_t size = judged.size;
  Platform& platform = run_.platform();
  unsigned char* const buffer = run_.buffer();
  if (!platform.SetFilePointer(file, 0)) {
    return run_.FailPiece(RC_FILE_READ, FailedStep::kRead, piece);
  }
  const std::uint64_t from = end_;
  partial_ = true;
  for (std::uint64_t total = 0;;) {
    if (run_.Cancelled()) return run_.FailCancelled();
    std::uint32_t got = 0;
    if (!platform.ReadFile(file, buffer, kChunkSize, &got)) {
      return run_.FailPiece(RC_FILE_READ, FailedStep::kRead, piece);
    }
    if (got == 0) break;
    std::uint32_t written = 0;
    if (!platform.WriteFile(handle_, buffer, got, &written)) {
      return run_.FailRebuilt(RC_FILE_WRITE, FailedStep::kWrite);
    }
    if (written != got) {
      platform.SetLastError(kErrorWriteFault);
      return run_.FailRebuilt(RC_FILE_WRITE, FailedStep::kWrite);
    }
    run_.progress().Advance(got);
    // More bytes than it had when it was proved: no platform writer could
    // have added them.
    if ((total += got) > size) {
      return run_.FailWith(RC_FILE_READ, kErrorReadFault, FailedStep::kMeasure, FileRole::kPiece,
                           run_.set().PieceName(piece).c_str(), piece);
    }
  }
  const ResultCode result = ReadBack(from, size, recorded);
  if (result != RC_OK) return result;
  waiting_ = piece;
  waiting_judged_ = judged;
  return RC_OK;
}

ResultCode RebuiltFile::FlushAndDeleteWaiting() {
  const ResultCode flushed = Flush();
  if (flushed != RC_OK || waiting_ < 0) return flushed;
  const std::int32_t piece = waiting_;
  waiting_ = -1;
  return DeleteWhileNoted(run_.set().PieceName(piece), FileRole::kPiece, piece, waiting_judged_);
}

// What was just appended must be the piece as proved, or another program
// wrote into the file meanwhile (or a write stored less than it said), and
// the piece must not go.
ResultCode RebuiltFile::ReadBack(std::uint64_t from, std::uint64_t size,
                                 const RecordedFingerprint& recorded) {
  Md5Context own;
  Md5Init(&own);
  std::uint64_t read = 0;
  if (!run_.platform().SetFilePointer(handle_, from) ||
      !run_.ReadAndHash(handle_, [this, &own, &read](const unsigned char* bytes,
                                                     std::uint32_t got) {
        Md5UpdateBoth(&own, &whole_, bytes, static_cast<std::int32_t>(got));
        read += got;
      })) {
    if (run_.Cancelled()) return run_.FailCancelled();
    return run_.FailRebuilt(RC_FILE_READ, FailedStep::kRead);
  }
  unsigned char digest[kMd5DigestSize];
  Md5Final(&own, digest);
  if (read != size || !recorded.Matches(digest)) {
    run_.platform().SetLastError(kErrorWriteFault);
    return run_.FailRebuilt(RC_FILE_WRITE, FailedStep::kChanged);
  }
  end_ = from + read;
  partial_ = false;
  return Note(end_);
}

bool RebuiltFile::WholeIs(const RecordedFingerprint& recorded) const {
  unsigned char digest[kMd5DigestSize] = {};
  Md5Context whole = whole_;
  Md5Final(&whole, digest);
  return recorded.Matches(digest);
}

ResultCode RebuiltFile::DeleteWhileNoted(const std::wstring& name, FileRole role,
                                         std::int32_t piece, const FileInformation& judged,
                                         FileHandle* let_go) {
  ResultCode result = CheckNoted();
  if (result != RC_OK) return result;
  if (let_go != nullptr) run_.Close(let_go);
  if (run_.Has(kKeepPieces)) return RC_OK;
  switch (DeleteIfUnchanged(run_.platform(), name.c_str(), judged,
                            {{run_.set().rebuilt(), noted_, handle_}})) {
    case Deletion::kDeleted:
    case Deletion::kGone: return RC_OK;
    case Deletion::kChanged:
      if ((result = CheckNoted()) != RC_OK) return result;
      return run_.Fail(RC_FILE_DELETE, FailedStep::kChanged, role, name.c_str(), piece);
    case Deletion::kFailed: break;
  }
  return run_.Fail(RC_FILE_DELETE, FailedStep::kDelete, role, name.c_str(), piece);
}

void RebuiltFile::CutBack() {
  if (handle_ == nullptr || !partial_) return;
  Platform& platform = run_.platform();
  const std::uint32_t kept = platform.GetLastError();
  if (platform.SetFilePointer(handle_, end_) && platform.SetEndOfFile(handle_)) partial_ = false;
  platform.SetLastError(kept);
}

}  // namespace tarvelin
