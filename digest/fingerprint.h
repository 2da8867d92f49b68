// SPDX-License-Identifier: MIT
// The fingerprint of a whole file: the MD5 of its bytes as text, sixteen
// upper-case two-digit hexadecimal numbers separated by single spaces (47
// characters). It is what the manifest stores and what the merge compares.
#ifndef TARVELIN_DIGEST_FINGERPRINT_H_
#define TARVELIN_DIGEST_FINGERPRINT_H_

#include <cstddef>
#include <cstdint>

#include "digest/md5.h"
#include "platform/platform.h"

namespace tarvelin {

// Every buffer that holds a fingerprint text or a name has this many
// characters, the terminator included.
constexpr std::size_t kFingerprintTextCapacity = 260;
constexpr std::size_t kFingerprintTextLength = 47;

// The text of a file that cannot be opened.
extern const wchar_t kZeroFingerprintText[];

// Reports how many bytes have been digested since the last report, at most
// every few MiB, so that long work can show progress. Either member may be
// null.
struct ByteProgress {
  void (*on_bytes)(void* context, std::uint64_t bytes) = nullptr;
  void* context = nullptr;
};

// What DigestFile reports.
enum : int {
  kDigestFileComplete = 0,   // read to the end: `digest` holds the file's MD5
  kDigestFileNotOpened = 1,  // the file did not open: `digest` is untouched
  kDigestFileReadError = 2,  // a read failed: `digest` holds the MD5 of the bytes before it
};

// Digests the file named by the UTF-8 bytes `narrow_path`, opened through
// `platform` for reading with read-only sharing and read in requests of 1024
// bytes.
int DigestFile(Platform& platform, const char* narrow_path,
               unsigned char digest[kMd5DigestSize], const ByteProgress* progress = nullptr);

// Writes the fingerprint text of the file at `path` into `text`, a buffer of
// at least kFingerprintTextCapacity characters. A file that cannot be opened
// gives kZeroFingerprintText. Always returns true: no failure leaves here,
// only its trace in the text.
bool GetFileFingerprint(Platform& platform, const wchar_t* path, wchar_t* text,
                        const ByteProgress* progress = nullptr);

// As GetFileFingerprint, but says whether the text is that of the whole
// file: false when the file could not be opened or a read failed part way.
// The split and the merge use it, since a text that vouches for bytes that
// were never read must not let them delete anything.
bool FingerprintWholeFile(Platform& platform, const wchar_t* path, wchar_t* text,
                          const ByteProgress* progress = nullptr);

// Writes the 47-character text of `digest` and its terminator into `text`
// (at least 48 characters).
void FormatFingerprintText(const unsigned char digest[kMd5DigestSize], wchar_t* text);

}  // namespace tarvelin

#endif  // TARVELIN_DIGEST_FINGERPRINT_H_
