// SPDX-License-Identifier: MIT
// The fingerprint of a whole file: the MD5 of its bytes as text, sixteen
// upper-case two-digit hexadecimal numbers separated by single spaces (47
// characters). It is what the manifest stores and what the merge compares.
//
// Files are read through the platform's own calls (CreateFile, ReadFile,
// CloseHandle), so a test's wrapper sees, counts and can fail every open and
// read that a fingerprint makes.
#ifndef TARVELIN_DIGEST_FINGERPRINT_H_
#define TARVELIN_DIGEST_FINGERPRINT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "digest/hashing_reader.h"
#include "digest/md5.h"
#include "platform/platform.h"

namespace tarvelin {

// Every buffer that holds a fingerprint text or a name has this many
// characters, the terminator included.
constexpr std::size_t kFingerprintTextCapacity = 260;
constexpr std::size_t kFingerprintTextLength = 47;

// The longest name, in UTF-8 bytes with the terminator, that a fingerprint
// opens. The library's own names (259 characters at most) need at most 778.
constexpr std::size_t kFingerprintNameBytes = 1024;

// The text of a file that cannot be opened.
extern const wchar_t kZeroFingerprintText[];

// Reports how many bytes have been digested since the last report, at most
// every few MiB, so that long work can show progress. Either member may be
// null.
// null. `on_bytes` returns false to stop the reading: the digest then ends
// as at a failed read, with the last-error value kErrorCancelled.
struct ByteProgress {
  bool (*on_bytes)(void* context, std::uint64_t bytes) = nullptr;
  void* context = nullptr;
};

// What DigestFile and DigestOpenFile report.
enum : int {
  kDigestFileComplete = 0,   // read to the end: `digest` holds the file's MD5
  kDigestFileNotOpened = 1,  // the file did not open: `digest` is untouched
  kDigestFileReadError = 2,  // a read failed: `digest` holds the MD5 of the bytes before it
};

// Digests the file at `path`, opened through `platform` with read access,
// read-only sharing (so it fails while someone holds the file open for
// writing, and nobody can open it for writing meanwhile) and OPEN_EXISTING,
// and closes it again. A null path, or one whose UTF-8 form needs more than
// kFingerprintNameBytes, opens nothing (last error ERROR_FILENAME_EXCED_RANGE
// for the latter). After a failure the last-error value is that of the open
// or the read that failed, not of the close.
int DigestFile(Platform& platform, const wchar_t* path, unsigned char digest[kMd5DigestSize],
               const ByteProgress* progress = nullptr, HashingThread* hashing = nullptr);

// Digests the bytes of the open `file` (which needs read access) from its
// current position to its end, as ReadAndHash reads and hashes them (on
// `hashing`'s thread when one is given, so that a caller with many files
// starts one thread), reporting them to `progress`. Returns kDigestFileComplete or kDigestFileReadError
// (the failed read's last-error value stands); the file stays open, at its
// end or wherever the failed read left it.
int DigestOpenFile(Platform& platform, FileHandle file, unsigned char digest[kMd5DigestSize],
                   const ByteProgress* progress = nullptr, HashingThread* hashing = nullptr);

// Digests `stream` from where it stands to its end, in requests of 4096
// bytes, and leaves it open: kDigestFileComplete, or kDigestFileReadError
// with the MD5 of the bytes before the failure, as DigestFile. For a stream
// that the caller owns, such as standard input.
int DigestStream(std::FILE* stream, unsigned char digest[kMd5DigestSize],
                 const ByteProgress* progress = nullptr);

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
                          const ByteProgress* progress = nullptr,
                          HashingThread* hashing = nullptr);

// Writes into `text` (at least kFingerprintTextCapacity characters) the
// fingerprint text of the bytes of the open `file` from its current position
// to its end, read as DigestOpenFile reads them, for a caller that already
// holds the file (and so decides its sharing itself). Returns true when they
// were read to the end; false when a read failed, and then the text is that
// of the bytes before the failure and the read's last-error value stands.
// The file stays open.
bool FingerprintOpenFile(Platform& platform, FileHandle file, wchar_t* text,
                         const ByteProgress* progress = nullptr,
                         HashingThread* hashing = nullptr);

// Writes the 47-character text of `digest` and its terminator into `text`
// (at least 48 characters).
void FormatFingerprintText(const unsigned char digest[kMd5DigestSize], wchar_t* text);

}  // namespace tarvelin

#endif  // TARVELIN_DIGEST_FINGERPRINT_H_
