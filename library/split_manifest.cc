// SPDX-License-Identifier: MIT
#include "library/split_manifest.h"

#include "platform/platform_errors.h"

namespace tarvelin {

ResultCode SplitManifest::Create(FileHandle source,
                                 const unsigned char source_digest[kMd5DigestSize]) {
  Platform& platform = run_.platform();
  handle_ = platform.CreateFile(run_.set().manifest(), kAccessRead | kAccessWrite, kShareRead,
                                Disposition::kCreateNew, Attribute::kNormal, source);
  if (handle_ == InvalidHandle()) {
    handle_ = nullptr;
    // A name taken since the look is in the way; any other failure (a full
    // disk, no inode left) leaves the fingerprint unrecorded.
    const bool taken = platform.GetLastError() == kErrorFileExists;
    return run_.FailManifest(taken ? RC_FILE_OPEN : RC_MANIFEST_WRITE,
                             taken ? FailedStep::kAppeared : FailedStep::kCreate);
  }
  if (!records_.Append(platform, handle_, SourceRecordText(source_digest))) {
    return run_.FailManifest(RC_MANIFEST_WRITE, FailedStep::kRecord);
  }
  return RC_OK;
}

ResultCode SplitManifest::RecordPiece(std::int32_t piece,
                                      const unsigned char digest[kMd5DigestSize]) {
  if (!records_.Append(run_.platform(), handle_, PieceRecordText(piece, digest))) {
    return run_.FailManifest(RC_MANIFEST_WRITE, FailedStep::kRecord);
  }
  return RC_OK;
}

ResultCode SplitManifest::MakeDurable() {
  if (!run_.platform().FlushFileBuffers(handle_)) {
    return run_.FailManifest(RC_FILE_WRITE, FailedStep::kFlush);
  }
  if (!run_.platform().FlushFolderOf(run_.set().manifest())) {
    return run_.FailManifest(RC_FILE_WRITE, FailedStep::kFlushFolder);
  }
  return RC_OK;
}

ResultCode SplitManifest::Prove(FailedStep unchecked, bool from_medium) {
  if (from_medium) run_.progress().Enter(Phase::kReadBack, -1);
  switch (records_.CheckAt(run_.platform(), handle_, run_.set().manifest(), from_medium)) {
    case ManifestWriter::Check::kIntact: return RC_OK;
    case ManifestWriter::Check::kChanged:
      // Read past the cache, other bytes than written: the medium's fault.
      if (from_medium && run_.platform().GetLastError() == kErrorWriteFault) {
        return run_.FailManifest(RC_FILE_WRITE, FailedStep::kReadBack);
      }
      return run_.FailManifest(RC_MANIFEST_WRITE, FailedStep::kChanged);
    case ManifestWriter::Check::kUnchecked: break;
  }
  return run_.FailManifest(RC_MANIFEST_WRITE, unchecked);
}

ResultCode SplitManifest::AddKept(std::vector<KeptFile>* kept) {
  FileInformation now;
  if (!run_.platform().GetFileInformationByHandle(handle_, &now)) {
    return run_.FailManifest(RC_MANIFEST_WRITE, FailedStep::kRead);
  }
  kept->push_back({run_.set().manifest(), now, handle_});
  return RC_OK;
}

}  // namespace tarvelin
