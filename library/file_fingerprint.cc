// SPDX-License-Identifier: MIT
#include "library/file_fingerprint.h"

#include <memory>
#include <new>

#include "digest/fingerprint.h"
#include "library/operation.h"
#include "platform/path_rules.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

void FormatText(const unsigned char digest[kMd5DigestSize], char text[kFingerprintTextBytes]) {
  wchar_t wide[kFingerprintTextBytes];
  FormatFingerprintText(digest, wide);
  for (std::size_t i = 0; i < kFingerprintTextBytes; ++i) text[i] = static_cast<char>(wide[i]);
}

class FingerprintRun : public Operation {
 public:
  explicit FingerprintRun(const OperationOptions& options) : Operation(options) {
    Hold(&file_);
  }

  ResultCode OfFile(const wchar_t* path, char* text) {
    // Checked before anything is opened: opening a device may wait for ever.
    if (IsDeviceName(path)) {
      return FailWith(RC_INVALID_PATH, kErrorSuccess, FailedStep::kDeviceName, FileRole::kSource,
                      path);
    }
    file_ = platform_.CreateFile(path, kAccessRead, kShareRead, Disposition::kOpenExisting,
                                 Attribute::kReadOnly);
    if (file_ == InvalidHandle()) {
      file_ = nullptr;
      return Fail(RC_FILE_OPEN, FailedStep::kOpen, FileRole::kSource, path);
    }
    std::uint32_t high = 0;
    const std::uint32_t low = progress_.active() ? platform_.GetFileSize(file_, &high) : 0;
    progress_.SetTotals((static_cast<std::uint64_t>(high) << 32) | low, 0);
    progress_.Enter(Phase::kFingerprint, -1);
    unsigned char digest[kMd5DigestSize];
    // The host's wish to stop is asked at every read, not only when progress
    // is told.
    if (!Fingerprint(file_, digest)) {
      if (Cancelled()) return FailCancelled();
      return Fail(RC_FILE_READ, FailedStep::kRead, FileRole::kSource, path);
    }
    Close(&file_);
    FormatText(digest, text);
    return RC_OK;
  }

  // Hashed on the caller's thread: the host's reads are its own to pace.
  ResultCode OfStream(StreamRead read, void* source, char* text) {
    buffer_ = NewAlignedBytes(kChunkSize);
    if (!buffer_) return FailOutOfMemory();
    progress_.Enter(Phase::kFingerprint, -1);
    Md5Context context;
    Md5Init(&context);
    for (;;) {
      if (Cancelled()) return FailCancelled();
      const long got = read(source, buffer_.get(), kChunkSize);
      if (got == 0) break;
      if (got < 0 || static_cast<unsigned long>(got) > kChunkSize) {
        return FailWith(RC_FILE_READ, kErrorReadFault, FailedStep::kRead, FileRole::kSource,
                        nullptr);
      }
      Md5Update(&context, buffer_.get(), static_cast<std::int32_t>(got));
      progress_.Advance(static_cast<std::uint64_t>(got));
    }
    unsigned char digest[kMd5DigestSize];
    Md5Final(&context, digest);
    FormatText(digest, text);
    return RC_OK;
  }

 private:
  FileHandle file_ = nullptr;
};

}  // namespace

ResultCode FingerprintFile(const wchar_t* path, const OperationOptions& options,
                           char text[kFingerprintTextBytes]) {
  try {
    FingerprintRun run(options);
    return run.OfFile(path, text);
  } catch (...) {
    return RC_FILE_READ;  // only an allocation can throw
  }
}

ResultCode FingerprintStream(StreamRead read, void* source, const OperationOptions& options,
                             char text[kFingerprintTextBytes]) {
  try {
    FingerprintRun run(options);
    return run.OfStream(read, source, text);
  } catch (...) {
    return RC_FILE_READ;
  }
}

}  // namespace tarvelin
