// SPDX-License-Identifier: MIT
#include "library/operation.h"

#include <new>

#include "library/judged_file.h"
#include "platform/path_rules.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

// The bytes between two reports of a fingerprint's progress, as
// DigestOpenFile takes them.
constexpr std::uint64_t kFingerprintProgressStep = 4u << 20;

}  // namespace

Operation::Operation(const OperationOptions& options)
    : platform_(options.platform != nullptr ? *options.platform : DefaultPlatform()),
      options_(options),
      progress_(options) {}

ResultCode Operation::Begin(const wchar_t* path, FileRole role) {
  if (!set_.Derive(path, options_.name_capacity, options_.piece_folder)) {
    return FailWith(RC_INVALID_PATH, kErrorFilenameExcedRange, FailedStep::kNameTooLong, role,
                    path);
  }
  // Checked before anything is opened: opening a device may wait for ever.
  if (set_.NamesADevice()) {
    return FailWith(RC_INVALID_PATH, kErrorSuccess, FailedStep::kDeviceName, role, path);
  }
  // The pieces' folder must be one: a name of the set in a folder that is
  // not there would fail later, with a code that says less.
  // A link to a folder is taken as the folder (a mount point's link, say):
  // with a separator after it, the system follows it.
  EntryAttributes folder;
  const std::wstring& pieces = options_.piece_folder;
  const bool there = pieces.empty() || (platform_.GetFileAttributes(pieces.c_str(), &folder) &&
                                        (folder.kind == EntryKind::kFolder ||
                                         (folder.kind == EntryKind::kLink &&
                                          platform_.GetFileAttributes((pieces + kSeparator).c_str(),
                                                                      &folder) &&
                                          folder.kind == EntryKind::kFolder)));
  if (!there) {
    return FailWith(RC_INVALID_PATH, kErrorPathNotFound, FailedStep::kNotFound, FileRole::kNone,
                    options_.piece_folder.c_str());
  }
  buffer_ = NewAlignedBytes(kChunkSize);
  if (!buffer_) return FailOutOfMemory();
  return RC_OK;
}

ResultCode Operation::RefusePartOfASplit(bool manifest_found) {
  if ((options_.flags & kRefusePartOfASplit) == 0) return RC_OK;
  const std::int32_t part = set_.PartOfASplit(manifest_found);
  if (part == SplitSet::kNotAPart) return RC_OK;
  return FailWith(RC_INVALID_ARGUMENT, kErrorInvalidParameter, FailedStep::kPartOfASplit,
                  FileRole::kManifest, set_.manifest(), part);
}

ResultCode Operation::RefuseSetFileAtThePath() {
  if (!Has(kRefusePartOfASplit) || options_.piece_folder.empty()) return RC_OK;
  FileInformation at_path;
  if (!LookAt(platform_, set_.rebuilt(), &at_path)) return RC_OK;
  const auto is_at_path = [&](const wchar_t* name) {
    FileInformation information;
    return LookAt(platform_, name, &information) && SameFile(information, at_path);
  };
  std::int32_t part = SplitSet::kNotAPart;
  if (is_at_path(set_.manifest())) part = SplitSet::kIsTheManifest;
  for (std::int32_t piece = 0; part == SplitSet::kNotAPart && piece < set_.recorded_count();
       ++piece) {
    if (is_at_path(set_.PieceName(piece).c_str())) part = piece;
  }
  if (part == SplitSet::kNotAPart) return RC_OK;
  return FailWith(RC_INVALID_ARGUMENT, kErrorInvalidParameter, FailedStep::kPartOfASplit,
                  FileRole::kManifest, set_.manifest(), part);
}

ResultCode Operation::RefuseWithoutRoom(std::uint64_t needed, FileRole role,
                                        const wchar_t* file, const wchar_t* where) {
  facts_.space_needed = needed;
  if (!platform_.GetDiskFreeSpace(where, &facts_.space_free) ||
      facts_.space_free >= needed) {
    return RC_OK;
  }
  return FailWith(RC_NOT_ENOUGH_SPACE, kErrorDiskFull, FailedStep::kNoSpace, role, file);
}

ResultCode Operation::HoldManifestAndReadRecord(FileHandle* manifest, FileInformation* judged) {
  *manifest = platform_.CreateFile(set_.manifest(), kAccessRead, kShareRead,
                                   Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (*manifest == InvalidHandle()) {
    *manifest = nullptr;
    return FailManifest(RC_FILE_OPEN, FailedStep::kOpen);
  }
  if ((judged != nullptr && !platform_.GetFileInformationByHandle(*manifest, judged)) ||
      !set_.ReadRecord(platform_, *manifest)) {
    if (platform_.GetLastError() == kErrorNotEnoughMemory) return FailOutOfMemory();
    return FailManifest(RC_FILE_READ, FailedStep::kRead);
  }
  return CheckRecordedNamesFit();
}

ResultCode Operation::CheckRecordedNamesFit() {
  if (set_.RecordedNamesFit()) return RC_OK;
  return FailWith(RC_INVALID_PATH, kErrorFilenameExcedRange, FailedStep::kNameTooLong,
                  FileRole::kPiece, set_.base(), set_.recorded_count() - 1);
}

void Operation::Close(FileHandle* handle) {
  if (*handle != nullptr) platform_.CloseHandle(*handle);
  *handle = nullptr;
}

ResultCode Operation::Fail(ResultCode code, FailedStep step, FileRole role, const wchar_t* file,
                           std::int32_t piece, const ProofDetails& details) {
  if (!failed_) {
    failed_ = true;
    FailureReport* const report = options_.failure;
    ReportFailure(report, step, role, file, platform_.GetLastError(), piece);
    if (report != nullptr) {
      report->source_unrecorded = details.source_unrecorded;
      report->missing_piece = details.missing_piece;
      report->not_resumable = details.not_resumable;
      report->recorded_zero = details.recorded_zero;
      report->record_malformed = details.record_malformed;
    }
  }
  BeforeClosing();
  CloseAll();
  return code;
}

ResultCode Operation::Failed(ResultCode code) {
  failed_ = true;
  BeforeClosing();
  CloseAll();
  return code;
}

ResultCode Operation::FailWith(ResultCode code, std::uint32_t error, FailedStep step,
                               FileRole role, const wchar_t* file, std::int32_t piece,
                               const ProofDetails& details) {
  platform_.SetLastError(error);
  return Fail(code, step, role, file, piece, details);
}

bool Operation::ReadAndHash(FileHandle file, const HashBytes& hash) {
  return tarvelin::ReadAndHash(
      platform_, file, hash, [this](std::uint32_t size) { return progress_.Advance(size); },
      &hashing_);
}

bool Operation::Fingerprint(FileHandle file, unsigned char digest[kMd5DigestSize],
                            bool tell_progress) {
  Md5Context context;
  Md5Init(&context);
  std::uint64_t untold = 0;
  const bool complete = tarvelin::ReadAndHash(
      platform_, file,
      [&context](const unsigned char* bytes, std::uint32_t size) {
        Md5Update(&context, bytes, static_cast<std::int32_t>(size));
      },
      [this, &untold, tell_progress](std::uint32_t size) {
        if (tell_progress && (untold += size) >= kFingerprintProgressStep) {
          progress_.Advance(untold);
          untold = 0;
        }
        return !Cancelled();
      },
      &hashing_);
  const std::uint32_t error = platform_.GetLastError();
  if (untold != 0) progress_.Advance(untold);
  Md5Final(&context, digest);
  if (!complete) platform_.SetLastError(error);
  return complete;
}

void Operation::CloseAll() {
  std::uint32_t kept = platform_.GetLastError();
  for (FileHandle* handle : held_) {
    if (*handle == nullptr) continue;
    if (!platform_.CloseHandle(*handle) && kept == 0) kept = platform_.GetLastError();
    *handle = nullptr;
  }
  platform_.SetLastError(kept);
}

}  // namespace tarvelin
