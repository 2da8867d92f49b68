// SPDX-License-Identifier: MIT
#include "digest/fingerprint.h"


#include "platform/platform_errors.h"
#include "platform/utf8.h"

namespace tarvelin {
namespace {

// How many bytes pass between two progress reports.
constexpr std::uint64_t kProgressInterval = 4u << 20;

// Standard input is read in requests of this size, from the stack.
constexpr std::uint32_t kStreamReadSize = 4096;

const wchar_t kHexDigits[] = L"0123456789ABCDEF";

// False when the caller asks to stop.
bool ReportBytes(const ByteProgress* progress, std::uint64_t bytes) {
  if (progress != nullptr && progress->on_bytes != nullptr && bytes != 0) {
    return progress->on_bytes(progress->context, bytes);
  }
  return true;
}

bool NameFits(const wchar_t* path) {
  char narrow[kFingerprintNameBytes];
  return WideToUtf8(path, narrow, sizeof narrow) != 0;
}

// The text of `digest`, cut to the capacity of `text` (which may be null).
void WriteText(const unsigned char digest[kMd5DigestSize], wchar_t* text) {
  wchar_t formatted[kFingerprintTextCapacity] = {};
  FormatFingerprintText(digest, formatted);
  if (text == nullptr) return;
  std::size_t i = 0;
  for (; i + 1 < kFingerprintTextCapacity && formatted[i] != L'\0'; ++i) text[i] = formatted[i];
  text[i] = L'\0';
}

}  // namespace

const wchar_t kZeroFingerprintText[] =
    L"00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

int DigestOpenFile(Platform& platform, FileHandle file, unsigned char digest[kMd5DigestSize],
                   const ByteProgress* progress, HashingThread* hashing) {
  Md5Context context;
  Md5Init(&context);
  std::uint64_t unreported = 0;
  const bool complete = ReadAndHash(
      platform, file,
      [&context](const unsigned char* bytes, std::uint32_t size) {
        Md5Update(&context, bytes, static_cast<std::int32_t>(size));
      },
      [&unreported, progress](std::uint32_t size) {
        unreported += size;
        if (unreported < kProgressInterval) return true;
        const std::uint64_t reported = unreported;
        unreported = 0;
        return ReportBytes(progress, reported);
      },
      hashing);
  const std::uint32_t error = platform.GetLastError();
  ReportBytes(progress, unreported);
  // Written on the error path too: the MD5 of the bytes read before it.
  Md5Final(&context, digest);
  if (!complete) platform.SetLastError(error);
  return complete ? kDigestFileComplete : kDigestFileReadError;
}

// Standard input is read through the C library: it is no file of ours.
int DigestStream(std::FILE* stream, unsigned char digest[kMd5DigestSize],
                 const ByteProgress* progress) {
  Md5Context context;
  Md5Init(&context);
  unsigned char buffer[kStreamReadSize];
  std::uint64_t unreported = 0;
  for (;;) {
    const std::size_t count = std::fread(buffer, 1, sizeof buffer, stream);
    if (count == 0) break;  // the end of the file, or a read error
    Md5Update(&context, buffer, static_cast<std::int32_t>(count));
    unreported += count;
    if (unreported >= kProgressInterval) {
      ReportBytes(progress, unreported);
      unreported = 0;
    }
  }
  ReportBytes(progress, unreported);
  // The digest is written on the error path too: it is the MD5 of the bytes
  // that were read before the failure.
  Md5Final(&context, digest);
  return std::ferror(stream) != 0 ? kDigestFileReadError : kDigestFileComplete;
}

int DigestFile(Platform& platform, const wchar_t* path, unsigned char digest[kMd5DigestSize],
               const ByteProgress* progress, HashingThread* hashing) {
  if (path == nullptr) {
    platform.SetLastError(kErrorPathNotFound);
    return kDigestFileNotOpened;
  }
  if (!NameFits(path)) {
    platform.SetLastError(kErrorFilenameExcedRange);
    return kDigestFileNotOpened;
  }
  FileHandle file = platform.CreateFile(path, kAccessRead, kShareRead,
                                        Disposition::kOpenExisting, Attribute::kNormal);
  if (file == InvalidHandle()) return kDigestFileNotOpened;
  const int outcome = DigestOpenFile(platform, file, digest, progress, hashing);
  // The read's failure is the one to report, not what the close makes of it.
  const std::uint32_t error = platform.GetLastError();
  platform.CloseHandle(file);
  if (outcome != kDigestFileComplete) platform.SetLastError(error);
  return outcome;
}

bool GetFileFingerprint(Platform& platform, const wchar_t* path, wchar_t* text,
                        const ByteProgress* progress) {
  FingerprintWholeFile(platform, path, text, progress);
  return true;
}

bool FingerprintWholeFile(Platform& platform, const wchar_t* path, wchar_t* text,
                          const ByteProgress* progress, HashingThread* hashing) {
  unsigned char digest[kMd5DigestSize] = {};
  const int outcome = DigestFile(platform, path, digest, progress, hashing);
  WriteText(digest, text);
  return outcome == kDigestFileComplete;
}

bool FingerprintOpenFile(Platform& platform, FileHandle file, wchar_t* text,
                         const ByteProgress* progress, HashingThread* hashing) {
  unsigned char digest[kMd5DigestSize] = {};
  const int outcome = DigestOpenFile(platform, file, digest, progress, hashing);
  WriteText(digest, text);
  return outcome == kDigestFileComplete;
}

void FormatFingerprintText(const unsigned char digest[kMd5DigestSize], wchar_t* text) {
  wchar_t* out = text;
  for (int i = 0; i < kMd5DigestSize; ++i) {
    if (i != 0) *out++ = L' ';
    *out++ = kHexDigits[digest[i] >> 4];
    *out++ = kHexDigits[digest[i] & 0x0F];
  }
  *out = L'\0';
}

}  // namespace tarvelin
