/* SPDX-License-Identifier: MIT */
/*
 * Tarvelin's public interface: what a host includes and links against.
 *
 * SplitBigWIM cuts the file at `path` into pieces of at most `pieceSizeMiB`
 * MiB named after its base path (.0, .1, ...), records their MD5 fingerprints
 * and the source's in the manifest (base path + ".DAT"), makes all of it
 * durable, checks that the source is still what it cut, and then deletes it.
 * It writes nothing over a file that is not its own: what stands at a name
 * that it creates is cleared only when its bytes prove it output of an
 * earlier split of this same source (so the same call after an interrupted
 * split finishes it); anything else makes it refuse with RC_FILE_OPEN,
 * changing nothing.
 *
 * MergeIntoWIM rebuilds the file under `path` from those pieces: it proves
 * each piece against its record before appending it, deletes it once the
 * rebuilt file holds it on stable storage, proves the whole against the
 * source's record and deletes the manifest last. Called again after it
 * stopped, it goes on from the pieces already joined in the file at `path`;
 * a file there that is already the whole gets the pieces and manifest left
 * beside it deleted; a file there that is not a merge's work, a link, or
 * another user's file is left untouched (RC_DIGEST_MISMATCH, RC_FILE_OPEN).
 *
 * Nothing is ever deleted that is not held elsewhere, proved by its bytes,
 * and every failure keeps the bytes: a failed split keeps its source, a
 * failed merge its manifest, the pieces not yet joined and a rebuilt file
 * that holds exactly the pieces it joined. GetLastError() (Windows) names
 * the call that failed. doc/library.md lists every cause of each code.
 *
 * Both run synchronously: every file call is made on the caller's thread,
 * and the MD5 of a file larger than 256 KiB is computed on one helper thread
 * that the call starts and ends before it returns. Calls on different files
 * may run at once on different threads. They return RC_OK or one of the
 * failure codes below; no exception leaves them. They need only a few KiB of
 * the caller's stack: the 512 KiB transfer buffer and the 1 MiB that the
 * hashing reads into are taken from the heap.
 *
 * Paths are wide strings: UTF-16 on Windows, at most 259 characters; UTF-32
 * elsewhere, handed to the system as UTF-8. On Windows a name that opens a
 * device (NUL, AUX, COM1, ... with any extension) is RC_INVALID_PATH.
 *
 * Windows: the DLL needs Windows Vista or later, and it starts a thread, so
 * it must not be called from DllMain or anywhere else under the loader lock.
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
/* the split could not record a fingerprint, or its manifest was moved or changed */
#define RC_MANIFEST_WRITE 0xE0F00006u
/* the split's source does not exist */
#define RC_SOURCE_NOT_FOUND 0xE0F00008u
/* a file could not be opened or created, or something not the operation's
   own stands at a name it would create or write (a link, another's file) */
#define RC_FILE_OPEN 0xE0F00009u
/* no path, a name too long, or (Windows) a device's name */
#define RC_INVALID_PATH 0xE0F00011u
/* the size of an open file could not be read */
#define RC_FILE_SIZE 0xE0F00012u
/* a piece, the rebuilt file or the file at the merge's path is not what was
   recorded */
#define RC_DIGEST_MISMATCH 0xE0F00013u
/* writing or flushing a piece, the manifest or the rebuilt file failed */
#define RC_FILE_WRITE 0xE0F00014u
/* the merge found no manifest */
#define RC_MANIFEST_NOT_FOUND 0xE0F00015u
/* the source (a reader still holds it), a merged piece, the manifest or an
   earlier split's stale output stayed */
#define RC_FILE_DELETE 0xE0F00016u
/* reading the source, a piece or the manifest failed, or another program
   changed the source while it was split */
#define RC_FILE_READ 0xE0F00017u

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
