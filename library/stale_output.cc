// SPDX-License-Identifier: MIT
#include "library/stale_output.h"

#include <vector>

#include "library/judged_file.h"
#include "library/manifest.h"
#include "library/operations.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

// A file at one of the split's names, held against writers while it is
// judged.
struct Found {
  FileHandle file = nullptr;
  FileInformation information;
};

enum class Look {
  kFree,      // nothing has the name
  kHeld,      // a regular file, now held in Found
  kInTheWay,  // a link, a folder, a device: never ours
  kRefused,   // it could not be opened (in use, permission); its error stands
};

Look Open(Platform& platform, const wchar_t* name, Found* found) {
  found->file = platform.CreateFile(name, kAccessRead, kShareRead,
                                    Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (found->file != InvalidHandle()) {
    if (platform.GetFileInformationByHandle(found->file, &found->information)) return Look::kHeld;
    const std::uint32_t error = platform.GetLastError();
    platform.CloseHandle(found->file);
    found->file = nullptr;
    platform.SetLastError(error);
    return Look::kRefused;
  }
  const std::uint32_t error = platform.GetLastError();
  if (error == kErrorFileNotFound || error == kErrorPathNotFound) return Look::kFree;
  if (error == kErrorCantResolveFilename) return Look::kInTheWay;
  EntryAttributes entry;
  if (platform.GetFileAttributes(name, &entry) && entry.kind != EntryKind::kFile &&
      entry.kind != EntryKind::kNothing) {
    return Look::kInTheWay;
  }
  platform.SetLastError(error);
  return Look::kRefused;
}

class StaleOutput {
 public:
  StaleOutput(Platform& platform, const SplitSet& set, const HeldSource& source,
              unsigned char* buffer, ProgressReporter& progress, FailureReport* report)
      : platform_(platform), set_(set), source_(source), buffer_(buffer), progress_(progress),
        report_(report) {}
  ~StaleOutput() { Close(&manifest_); }
  StaleOutput(const StaleOutput&) = delete;
  StaleOutput& operator=(const StaleOutput&) = delete;

  ResultCode Clear(std::int32_t highest_piece);

 private:
  ResultCode JudgeManifest();
  // Looks at piece `piece`: adds it to stale_ when it is stale, else tells
  // whether it is in the way (`must_be_free`) or ends the run.
  ResultCode JudgePiece(std::int32_t piece, bool must_be_free, bool* run_goes_on);
  bool IsStale(const Found& found, Md5Digest* digest);
  ResultCode Delete(const wchar_t* name, FileRole role, std::int32_t piece,
                    const FileInformation& judged);
  ResultCode Refuse(Look look, FileRole role, const wchar_t* name, std::int32_t piece = -1);
  void Close(Found* found) {
    if (found->file != nullptr && found->file != InvalidHandle()) platform_.CloseHandle(found->file);
    found->file = nullptr;
  }

  Platform& platform_;
  const SplitSet& set_;
  const HeldSource& source_;
  unsigned char* buffer_;
  ProgressReporter& progress_;
  FailureReport* report_;
  Found manifest_;
  bool manifest_found_ = false;
  // The stale pieces from 0, as judged, and their fingerprints.
  std::vector<FileInformation> stale_;
  std::vector<Md5Digest> stale_digests_;
  std::uint64_t place_ = 0;  // where the next piece would begin in the source
};

ResultCode StaleOutput::Refuse(Look look, FileRole role, const wchar_t* name,
                               std::int32_t piece) {
  if (look == Look::kRefused) {
    ReportFailure(report_, FailedStep::kOpen, role, name, platform_.GetLastError(), piece);
    return RC_FILE_OPEN;
  }
  platform_.SetLastError(kErrorFileExists);
  ReportFailure(report_, FailedStep::kCreate, role, name, kErrorFileExists, piece);
  return RC_FILE_OPEN;
}

ResultCode StaleOutput::Clear(std::int32_t highest_piece) {
  // The manifest first: one that a running split holds for writing makes
  // this split refuse before it reads anything else.
  const ResultCode manifest = JudgeManifest();
  if (manifest != RC_OK) return manifest;
  bool run_goes_on = true;
  for (std::int32_t piece = 0; piece <= highest_piece || run_goes_on; ++piece) {
    const bool must_be_free = piece <= highest_piece;
    if (!run_goes_on) {
      // A name after the end of the run that this split must create.
      const std::wstring name = set_.PieceName(piece);
      EntryAttributes entry;
      if (!platform_.GetFileAttributes(name.c_str(), &entry)) {
        return Refuse(Look::kRefused, FileRole::kPiece, name.c_str(), piece);
      }
      if (entry.kind != EntryKind::kNothing) {
        return Refuse(Look::kInTheWay, FileRole::kPiece, name.c_str(), piece);
      }
      continue;
    }
    const ResultCode judged = JudgePiece(piece, must_be_free, &run_goes_on);
    if (judged != RC_OK) return judged;
    if (piece == INT32_MAX) break;
  }
  if (manifest_found_) {
    const bool only_ours =
        HoldsOnlyRecordOf(platform_, manifest_.file, source_.digest, stale_digests_);
    Close(&manifest_);
    if (!only_ours) return Refuse(Look::kInTheWay, FileRole::kManifest, set_.manifest());
    const ResultCode deleted =
        Delete(set_.manifest(), FileRole::kManifest, -1, manifest_.information);
    if (deleted != RC_OK) return deleted;
  }
  for (std::size_t piece = stale_.size(); piece-- > 0;) {
    const std::wstring name = set_.PieceName(static_cast<std::int32_t>(piece));
    const ResultCode deleted =
        Delete(name.c_str(), FileRole::kPiece, static_cast<std::int32_t>(piece), stale_[piece]);
    if (deleted != RC_OK) return deleted;
  }
  return RC_OK;
}

ResultCode StaleOutput::JudgeManifest() {
  const Look look = Open(platform_, set_.manifest(), &manifest_);
  if (look == Look::kFree) return RC_OK;
  if (look != Look::kHeld) return Refuse(look, FileRole::kManifest, set_.manifest());
  if (!MayBeOurs(manifest_.information) ||
      SameFile(manifest_.information, source_.information)) {
    return Refuse(Look::kInTheWay, FileRole::kManifest, set_.manifest());
  }
  manifest_found_ = true;
  return RC_OK;
}

ResultCode StaleOutput::JudgePiece(std::int32_t piece, bool must_be_free, bool* run_goes_on) {
  const std::wstring name_text = set_.PieceName(piece);
  if (name_text.empty()) {
    *run_goes_on = false;
    return RC_OK;
  }
  const wchar_t* const name = name_text.c_str();
  Found found;
  const Look look = Open(platform_, name, &found);
  if (look == Look::kFree) {
    *run_goes_on = false;
    return RC_OK;
  }
  progress_.Enter(Phase::kCheckEarlierOutput, piece);
  if (progress_.cancelled()) {
    Close(&found);
    platform_.SetLastError(kErrorCancelled);
    ReportFailure(report_, FailedStep::kCancelled, FileRole::kNone, nullptr, kErrorCancelled);
    return RC_CANCELLED;
  }
  Md5Digest digest;
  const bool is_stale = look == Look::kHeld && IsStale(found, &digest);
  Close(&found);
  if (!is_stale) {
    *run_goes_on = false;
    if (!must_be_free) return RC_OK;
    return Refuse(look == Look::kRefused ? look : Look::kInTheWay, FileRole::kPiece, name, piece);
  }
  place_ += found.information.size;
  stale_.push_back(found.information);
  stale_digests_.push_back(digest);
  return RC_OK;
}

bool StaleOutput::IsStale(const Found& found, Md5Digest* digest) {
  if (!MayBeOurs(found.information) || SameFile(found.information, source_.information)) {
    return false;
  }
  Md5Context context;
  Md5Init(&context);
  if (!HoldsBytesOf(platform_, found.file, found.information.size, source_.file,
                    source_.information.size, place_, buffer_, kChunkSize, &context)) {
    return false;
  }
  Md5Final(&context, digest->data());
  return true;
}

ResultCode StaleOutput::Delete(const wchar_t* name, FileRole role, std::int32_t piece,
                               const FileInformation& judged) {
  switch (DeleteIfUnchanged(platform_, name, judged)) {
    case Deletion::kDeleted:
    case Deletion::kGone:
      return RC_OK;
    case Deletion::kChanged:
      return Refuse(Look::kInTheWay, role, name, piece);
    case Deletion::kFailed:
      break;
  }
  ReportFailure(report_, FailedStep::kClearStale, role, name, platform_.GetLastError(), piece);
  return RC_FILE_DELETE;
}

}  // namespace

ResultCode ClearStaleOutput(Platform& platform, const SplitSet& set, std::int32_t highest_piece,
                            const HeldSource& source, unsigned char* buffer,
                            ProgressReporter& progress, FailureReport* report) {
  StaleOutput stale(platform, set, source, buffer, progress, report);
  return stale.Clear(highest_piece);
}

}  // namespace tarvelin
