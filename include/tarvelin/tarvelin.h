/* SPDX-License-Identifier: MIT */
/*
 * Tarvelin's public interface: what a host includes and links against.
 *
 * SplitBigWIM cuts the file at `path` into pieces of at most `pieceSizeMiB`
 * MiB named after its base path (.0, .1, ...), records their MD5 fingerprints
 * and the source's in the manifest (base path + ".DAT"), makes all of it
 * durable and then deletes the source. MergeIntoWIM rebuilds the file under
 * `path` from those pieces, proving every piece and the whole before it
 * deletes the pieces and, last, the manifest; called again after it stopped,
 * it goes on from the pieces already joined in the file at `path`. Both run
 * synchronously: every file call is made on the caller's thread, and the
 * MD5 of a file larger than 256 KiB is computed on one helper thread that
 * the call starts and ends before it returns. They return RC_OK or one of
 * the failure codes below; no exception leaves them. They need only a few
 * KiB of the caller's stack: the 512 KiB transfer buffer and the 1 MiB that
 * the hashing reads into are taken from the heap.
 *
 * Paths are wide strings: UTF-16 on Windows, at most 259 characters; UTF-32
 * elsewhere, handed to the system as UTF-8.
 *
 * The header compiles as C (C99 and later) and as C++ (C++98 and later).
 * On Windows it declares the exports as imported from tarvelin.dll; code that
 * links the library's objects into its own module (the DLL itself, a static
 * build) defines TARVELIN_STATIC first, so that nothing is imported.
 */
#ifndef TARVELIN_TARVELIN_H_
#define TARVELIN_TARVELIN_H_

#include <stddef.h> /* wchar_t, for C */

#if defined(_WIN32)
#if defined(TARVELIN_STATIC)
#define TARVELIN_API
#else
#define TARVELIN_API __declspec(dllimport)
#endif
#define TARVELIN_CALL __cdecl
#elif defined(__GNUC__)
#define TARVELIN_API __attribute__((visibility("default")))
#define TARVELIN_CALL
#else
#define TARVELIN_API
#define TARVELIN_CALL
#endif

/*
 * The result of every operation: a 32-bit unsigned number, 0 for success,
 * 0xE0F0 in the high half for every failure. Hosts compare these numbers, so
 * they never change.
 */
typedef unsigned int ResultCode;

#define RC_OK 0x00000000u
#define RC_MANIFEST_WRITE 0xE0F00006u     /* the split could not record a fingerprint */
#define RC_SOURCE_NOT_FOUND 0xE0F00008u   /* the split's source does not exist */
#define RC_FILE_OPEN 0xE0F00009u          /* a file could not be opened or created */
#define RC_INVALID_PATH 0xE0F00011u       /* no path, or a name too long */
#define RC_FILE_SIZE 0xE0F00012u          /* the size of an open file could not be read */
#define RC_DIGEST_MISMATCH 0xE0F00013u    /* a piece or the rebuilt file is not what was recorded */
#define RC_FILE_WRITE 0xE0F00014u         /* writing or flushing a piece or the rebuilt file failed */
#define RC_MANIFEST_NOT_FOUND 0xE0F00015u /* the merge found no manifest */
#define RC_FILE_DELETE 0xE0F00016u        /* the source, a merged piece or the manifest stayed */
#define RC_FILE_READ 0xE0F00017u          /* reading the source or a piece failed */

#ifdef __cplusplus
extern "C" {
#endif

TARVELIN_API ResultCode TARVELIN_CALL SplitBigWIM(const wchar_t* path, int pieceSizeMiB);
TARVELIN_API ResultCode TARVELIN_CALL MergeIntoWIM(const wchar_t* path);

#ifdef __cplusplus
}

/*
 * Exported so that hosts can link against it; it holds nothing and nothing in
 * the library uses it. Its two members carry MSVC's names in tarvelin.dll.
 */
class TARVELIN_API CTarvelin {
 public:
  CTarvelin();
  CTarvelin& operator=(const CTarvelin& other);
};
#endif

#endif /* TARVELIN_TARVELIN_H_ */
