// SPDX-License-Identifier: MIT
#include "digest/fingerprint.h"

#include <cstdio>
#include <memory>
#include <new>

#include "platform/utf8.h"

namespace tarvelin {
namespace {

// One read request's worth of file content.
constexpr std::size_t kReadSize = 1024;

// The UTF-8 form of a path, terminator included. 259 wide characters need at
// most 778 bytes, so every path that the callers build fits.
constexpr std::size_t kNarrowPathCapacity = 1024;

// The stream's own buffer. With the default (one disk block) each 1024-byte
// request costs a system call every few requests; a larger buffer lets the
// stream fetch big runs and keeps a multi-GiB file bound by the digest alone.
constexpr std::size_t kStreamBufferSize = 1u << 20;

// How many bytes pass between two progress reports.
constexpr std::uint64_t kProgressInterval = 4u << 20;

const wchar_t kHexDigits[] = L"0123456789ABCDEF";

void ReportBytes(const ByteProgress* progress, std::uint64_t bytes) {
  if (progress != nullptr && progress->on_bytes != nullptr && bytes != 0) {
    progress->on_bytes(progress->context, bytes);
  }
}

}  // namespace

const wchar_t kZeroFingerprintText[] =
    L"00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

int DigestFile(Platform& platform, const char* narrow_path,
               unsigned char digest[kMd5DigestSize], const ByteProgress* progress) {
  std::FILE* stream = nullptr;
  if (narrow_path == nullptr) return kDigestFileNotOpened;
  if (platform.OpenReadStream(narrow_path, &stream) != 0 || stream == nullptr) {
    return kDigestFileNotOpened;
  }
  // The stream uses this buffer until it is closed, so it is freed only when
  // this function returns, after the fclose below. Without the memory the
  // stream keeps its default buffering; nothing else changes.
  std::unique_ptr<char[]> stream_buffer(new (std::nothrow) char[kStreamBufferSize]);
  if (stream_buffer != nullptr) {
    std::setvbuf(stream, stream_buffer.get(), _IOFBF, kStreamBufferSize);
  }

  Md5Context context;
  Md5Init(&context);
  unsigned char buffer[kReadSize];
  std::uint64_t unreported = 0;
  for (;;) {
    const std::size_t count = std::fread(buffer, 1, kReadSize, stream);
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
  const bool read_failed = std::ferror(stream) != 0;
  std::fclose(stream);
  return read_failed ? kDigestFileReadError : kDigestFileComplete;
}

bool GetFileFingerprint(Platform& platform, const wchar_t* path, wchar_t* text,
                        const ByteProgress* progress) {
  FingerprintWholeFile(platform, path, text, progress);
  return true;
}

bool FingerprintWholeFile(Platform& platform, const wchar_t* path, wchar_t* text,
                          const ByteProgress* progress) {
  unsigned char digest[kMd5DigestSize] = {};
  char narrow_path[kNarrowPathCapacity] = {};
  // A path that does not fit leaves the empty name, which opens nothing: the
  // text is then the all-zero one, like any file that cannot be opened.
  if (path != nullptr) WideToUtf8(path, narrow_path, sizeof narrow_path);
  const int outcome = DigestFile(platform, narrow_path, digest, progress);

  wchar_t formatted[kFingerprintTextCapacity] = {};
  FormatFingerprintText(digest, formatted);
  if (text != nullptr) {
    std::size_t i = 0;
    for (; i + 1 < kFingerprintTextCapacity && formatted[i] != L'\0'; ++i) text[i] = formatted[i];
    text[i] = L'\0';
  }
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
