/* SPDX-License-Identifier: MIT */
/*
 * Tarvelin's public interface: what a host includes and links against.
 *
 * Two sets of functions do the same work. The library's own, prefixed
 * tarvelin_, take UTF-8 paths of any length that the system takes, options
 * (piece size in bytes, progress, cancellation, a space check) and give back
 * an outcome that explains what happened; they are declared in the second
 * half of this header. SplitBigWIM and MergeIntoWIM are the two exports that
 * existing Windows hosts link against; they take wide paths of 259
 * characters at most and return a code alone. Both sets behave the same,
 * but for what the options add.
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

#include <stddef.h> /* wchar_t and size_t, for C */
#include <stdint.h>

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
/* the merge found neither a manifest nor a file at its path */
#define RC_MANIFEST_NOT_FOUND 0xE0F00015u
/* the source (a reader still holds it), a merged piece, the manifest or an
   earlier split's stale output stayed */
#define RC_FILE_DELETE 0xE0F00016u
/* reading the source, a piece or the manifest failed, or another program
   changed the source while it was split */
#define RC_FILE_READ 0xE0F00017u
/* Returned by the tarvelin_ functions alone: */
/* the host cancelled the operation; it left what a failure there leaves, and
   the same call again finishes the work */
#define RC_CANCELLED 0xE0F00018u
/* an option or the outcome's size is out of range, or the path names the
   manifest or a piece of a split where the file to rebuild is meant */
#define RC_INVALID_ARGUMENT 0xE0F00019u
/* with TARVELIN_CHECK_SPACE: the file system has too little room */
#define RC_NOT_ENOUGH_SPACE 0xE0F0001Au

/*
 * ---------------------------------------------------------------------------
 * The library's own functions.
 *
 * Each runs synchronously on the caller's thread, as the exports do, and
 * calls on different files may run at once on different threads. Paths are
 * UTF-8: on POSIX the bytes as given, on Windows converted to UTF-16, with no
 * limit of 259 characters (a path that is not valid UTF-8 is
 * RC_INVALID_PATH); on Windows the _w functions take UTF-16 paths. Every
 * struct starts with its own size, so that later versions can add fields
 * at its end: a host sets `size` to sizeof the struct it was built with, and
 * the library reads and fills only that much. A size smaller than the first
 * version's, or fields past this version's that are not zero (a newer host
 * asking for what this library cannot do), is RC_INVALID_ARGUMENT. `options` may be null (the
 * defaults); so may `outcome` (the host wants no account).
 * ---------------------------------------------------------------------------
 */

#define TARVELIN_VERSION_MAJOR 0
#define TARVELIN_VERSION_MINOR 3
#define TARVELIN_VERSION_PATCH 0

#if defined(_WIN32)
#define TARVELIN_CALLBACK __cdecl
#else
#define TARVELIN_CALLBACK
#endif

/* What an operation is doing, as its progress says. */
enum tarvelin_phase {
  TARVELIN_PHASE_FINGERPRINT_SOURCE = 1, /* split: reading the source for its fingerprint */
  TARVELIN_PHASE_CHECK_EARLIER_OUTPUT,   /* split: comparing what an earlier split left */
  TARVELIN_PHASE_CUT_PIECE,              /* split: writing piece `piece` */
  TARVELIN_PHASE_FINGERPRINT_PIECE,      /* split: reading piece `piece` back */
  TARVELIN_PHASE_FLUSH,                  /* split: putting everything on stable storage */
  TARVELIN_PHASE_FIND_JOINED,            /* merge, verify: reading the file at the path */
  TARVELIN_PHASE_VERIFY_PIECE,           /* merge, verify: proving piece `piece` */
  TARVELIN_PHASE_JOIN_PIECE,             /* merge: appending piece `piece` */
  TARVELIN_PHASE_VERIFY_WHOLE,           /* merge, verify: proving the whole */
  TARVELIN_PHASE_FINGERPRINT,            /* fingerprint: reading the file */
  TARVELIN_PHASE_READ_BACK,              /* split: reading piece `piece` back from the
                                            medium, past the system's cache (piece -1:
                                            the manifest) */
  TARVELIN_PHASE_STREAM_PIECE            /* cat: proving piece `piece` as it is written out */
};

typedef struct tarvelin_progress {
  int phase;            /* a TARVELIN_PHASE_ value */
  int32_t piece;        /* the piece concerned, from 0; -1 for none */
  int32_t piece_count;  /* the pieces in all; 0 when not known */
  uint64_t done;        /* bytes of work done so far */
  uint64_t total;       /* bytes of work in all (a split reads its source three times) */
} tarvelin_progress;

/* Called about ten times a second, and once as the operation enters each
   phase. Returns 0 to go on; anything else cancels the operation at its next
   chunk (RC_CANCELLED). */
typedef int(TARVELIN_CALLBACK* tarvelin_progress_callback)(const tarvelin_progress* progress,
                                                           void* user_data);

/* A piece as tarvelin_verify judges it, or one that tarvelin_merge leaves. */
enum tarvelin_piece_state {
  TARVELIN_PIECE_OK = 1,        /* read whole; its fingerprint is the recorded one */
  TARVELIN_PIECE_FAILED,        /* read whole; its fingerprint is not */
  TARVELIN_PIECE_UNREADABLE,    /* it could not be opened, or a read failed */
  TARVELIN_PIECE_MISSING,       /* no file by its name */
  TARVELIN_PIECE_JOINED,        /* the file at the path holds it already */
  TARVELIN_PIECE_NOT_RECORDED   /* a piece file past the record, which a merge leaves */
};

typedef struct tarvelin_piece {
  int32_t number;
  const char* name;            /* its path, UTF-8; valid during the call */
  int state;                   /* a TARVELIN_PIECE_ value */
  uint32_t system_error;       /* for UNREADABLE: the system's error (Win32's numbers) */
  const char* system_message;  /* for UNREADABLE: its words; else ""; valid during the call */
  int open_failed;             /* for UNREADABLE: the open failed, not a read */
  int file_kind;               /* for UNREADABLE: a TARVELIN_KIND_ value (a folder at its
                                  name, say) */
} tarvelin_piece;

/* Told of each piece, in order, as the operation reaches it: by a verify, of
   every piece; by a merge, of each piece file that it leaves in place (past
   the record: TARVELIN_PIECE_NOT_RECORDED; when it only tidies, one at a
   recorded name whose bytes are not the record's, or that it cannot read:
   TARVELIN_PIECE_FAILED or TARVELIN_PIECE_UNREADABLE). */
typedef void(TARVELIN_CALLBACK* tarvelin_piece_callback)(const tarvelin_piece* piece,
                                                         void* user_data);

/* Receives the next `size` bytes of the original (tarvelin_cat). Returns 0
   once all of them are written; anything else stops the call with
   RC_FILE_WRITE, and the outcome's system_error is the number returned. */
typedef int(TARVELIN_CALLBACK* tarvelin_write_callback)(const void* bytes, size_t size,
                                                        void* user_data);

/* Option flags. */
#define TARVELIN_CHECK_SPACE 0x1u /* split, merge: refuse up front, with
                                     RC_NOT_ENOUGH_SPACE, when a file system
                                     lacks the room: a split needs its source's
                                     size where the pieces go; a merge its
                                     largest piece where the file is rebuilt,
                                     or the whole when the pieces stay
                                     (TARVELIN_KEEP_PIECES) or lie on another
                                     file system */
#define TARVELIN_KEEP_SOURCE 0x2u /* split: keep the source. Everything else
                                     holds: a source that changed while it was
                                     read still fails the split */
#define TARVELIN_KEEP_PIECES 0x4u /* merge: delete nothing, neither pieces nor
                                     manifest, even when the file at the path
                                     is the whole already */
#define TARVELIN_READ_BACK 0x8u   /* split: once everything is durable, read
                                     every piece and the manifest back from the
                                     medium, past the system's cache, and prove
                                     them before the source may go. The default
                                     when piece_folder is set */
#define TARVELIN_NO_READ_BACK 0x10u /* split: not even with piece_folder; the
                                       outcome's read_back then stays 0 */

typedef struct tarvelin_options {
  uint32_t size;                       /* sizeof(tarvelin_options) */
  uint32_t flags;                      /* TARVELIN_ flags */
  uint64_t piece_size;                 /* split: the largest piece in bytes, at least
                                          524288; pieces hold whole 512 KiB chunks.
                                          0: 4095 MiB, the largest that FAT32 holds */
  tarvelin_progress_callback progress; /* may be null */
  tarvelin_piece_callback piece;       /* verify, merge: may be null */
  void* user_data;                     /* handed to both callbacks */
  const volatile int* cancel;          /* when not null: the operation stops at its
                                          next chunk once *cancel is not 0 */
  /* The first version of the struct ends here (TARVELIN_OPTIONS_SIZE_1): a
     host built with it gets the defaults for every field added since. */
  const char* piece_folder;            /* split: the folder that receives the pieces and
                                          the manifest, named after the path's base
                                          name (disk.img: FOLDER/disk.0, ...,
                                          FOLDER/disk.DAT); merge, verify, cat: the
                                          folder that they are read from. UTF-8, also
                                          for the _w functions. null: beside the path */
  /* Version 0.2.0 ends here (TARVELIN_OPTIONS_SIZE_2). */
  tarvelin_write_callback output;      /* cat: where the original's bytes go */
} tarvelin_options;

#define TARVELIN_OPTIONS_SIZE_1 offsetof(tarvelin_options, piece_folder)
#define TARVELIN_OPTIONS_SIZE_2 offsetof(tarvelin_options, output)

/* What stopped an operation. */
enum tarvelin_step {
  TARVELIN_STEP_NONE = 0,
  TARVELIN_STEP_BAD_PATH,       /* no path, an empty one, or (Windows) one that is
                                   not valid UTF-8 */
  TARVELIN_STEP_NAME_TOO_LONG,  /* a derived name would not fit */
  TARVELIN_STEP_DEVICE_NAME,    /* a name is a device's (Windows: NUL, AUX, ...) */
  TARVELIN_STEP_NOT_FOUND,      /* the source, or the manifest, is not there */
  TARVELIN_STEP_OPEN,
  TARVELIN_STEP_CREATE,
  TARVELIN_STEP_APPEARED,       /* a file appeared at a name as it was to be created */
  TARVELIN_STEP_NOT_OURS,       /* a file at the merge's path that it may not write into */
  TARVELIN_STEP_MEASURE,        /* it held more bytes than measured */
  TARVELIN_STEP_READ,
  TARVELIN_STEP_WRITE,
  TARVELIN_STEP_RECORD,         /* recording a fingerprint in the manifest */
  TARVELIN_STEP_CUT,            /* cutting the rebuilt file back */
  TARVELIN_STEP_FLUSH,
  TARVELIN_STEP_FLUSH_FOLDER,
  TARVELIN_STEP_CLOSE,
  TARVELIN_STEP_DELETE,
  TARVELIN_STEP_CLEAR_STALE,    /* deleting an earlier split's output of the same file */
  TARVELIN_STEP_MISMATCH,       /* not what the record says */
  TARVELIN_STEP_CHANGED,        /* another program changed or replaced it meanwhile */
  TARVELIN_STEP_NO_MEMORY,
  TARVELIN_STEP_CANCELLED,
  TARVELIN_STEP_NO_SPACE,
  TARVELIN_STEP_PART_OF_A_SPLIT, /* merge, verify: the path is the manifest (`piece` -1)
                                    or piece `piece` of the split whose manifest
                                    `file` names */
  TARVELIN_STEP_BAD_OPTIONS,    /* an option, or a struct's size, is out of range */
  TARVELIN_STEP_TOO_LARGE_FOR_MEDIUM, /* split: pieces of this size would pass the
                                         largest file that the pieces' file system
                                         holds (FAT: 4 GiB - 1 byte) */
  TARVELIN_STEP_NAME_NOT_ALLOWED,     /* split: the pieces' file system refuses a
                                         character of their name (FAT: " * / : < > ? \ |) */
  TARVELIN_STEP_READ_BACK             /* split: the medium gave back other bytes than
                                         were written (the piece, or -1: the manifest) */
};

/* Which file it concerns. */
enum tarvelin_role {
  TARVELIN_ROLE_NONE = 0,
  TARVELIN_ROLE_SOURCE,   /* the file that a split cuts */
  TARVELIN_ROLE_PIECE,
  TARVELIN_ROLE_MANIFEST,
  TARVELIN_ROLE_REBUILT,  /* the file that a merge rebuilds, or finds at its path */
  TARVELIN_ROLE_OUTPUT    /* cat: the host's output callback */
};

/* What a file at a name is, when it could not be used. */
enum tarvelin_kind {
  TARVELIN_KIND_UNKNOWN = 0,
  TARVELIN_KIND_NONE,     /* nothing is there */
  TARVELIN_KIND_FILE,
  TARVELIN_KIND_FOLDER,
  TARVELIN_KIND_DEVICE,   /* a device, a pipe or a socket */
  TARVELIN_KIND_LINK
};

/* How a whole compares with the record (verify). */
enum tarvelin_whole {
  TARVELIN_WHOLE_NOT_CHECKED = 0,
  TARVELIN_WHOLE_MATCHES,
  TARVELIN_WHOLE_DIFFERS,
  TARVELIN_WHOLE_INCOMPLETE,  /* a piece is missing */
  TARVELIN_WHOLE_UNREADABLE,
  TARVELIN_WHOLE_PARTIAL,     /* the file at the path holds the first pieces */
  TARVELIN_WHOLE_NOT_OURS     /* the file at the path is a link or another's */
};

/* Detail bits. */
#define TARVELIN_DETAIL_SHARING_CONFLICT 0x1u  /* another program holds the file */
#define TARVELIN_DETAIL_SOURCE_UNRECORDED 0x2u /* the manifest records no source fingerprint */
#define TARVELIN_DETAIL_NOT_RESUMABLE 0x4u     /* the file at the path is not a merge's work */
#define TARVELIN_DETAIL_RECORDED_ZERO 0x8u     /* the piece's record is the all-zero text that
                                                  a splitter writes for a piece it could not read */
#define TARVELIN_DETAIL_RECORD_MALFORMED 0x10u /* the piece's record is no fingerprint text */

#define TARVELIN_NAME_BYTES 1024

typedef struct tarvelin_outcome {
  uint32_t size;           /* sizeof(tarvelin_outcome), set by the host */
  ResultCode code;         /* what the call returned */
  /* What stopped it, when it failed. */
  int step;                /* a TARVELIN_STEP_ value */
  int role;                /* a TARVELIN_ROLE_ value */
  int32_t piece;           /* for a piece, its number; else -1 */
  char file[TARVELIN_NAME_BYTES];  /* the file's name, UTF-8, cut to fit */
  int file_kind;           /* a TARVELIN_KIND_ value, when it could not be used */
  uint32_t system_error;   /* the system's error (Win32's numbers everywhere); 0 for none */
  char system_message[256];/* the system's words for it, UTF-8 */
  uint32_t details;        /* TARVELIN_DETAIL_ bits */
  int32_t missing_piece;   /* the first recorded piece that was missing; else -1 */
  /* What was done. */
  int32_t pieces;          /* split: pieces cut; merge: pieces joined by this call */
  uint64_t bytes;          /* split: the source's size; merge: the rebuilt file's */
  int32_t resumed_from;    /* merge: the piece it went on from after an earlier merge; -1 */
  int tidied;              /* merge: the file at the path was the whole already */
  int file_existed;        /* merge, verify: a file was at the path */
  int manifest_found;      /* merge, verify */
  int32_t unrecorded;      /* merge, verify: piece files past the record, left in place */
  uint64_t space_needed;   /* with TARVELIN_CHECK_SPACE */
  uint64_t space_free;
  /* Verify. */
  int32_t recorded;        /* the pieces that the manifest records */
  int source_recorded;     /* it records the source's fingerprint */
  int joined;              /* a TARVELIN_WHOLE_ value: the recorded pieces joined */
  int32_t joined_stop;     /* the piece at which the join stopped; -1 */
  int existing;            /* a TARVELIN_WHOLE_ value: the file at the path */
  int32_t resume_from;     /* PARTIAL: the piece a merge would go on from */
  uint64_t resume_cut;     /* PARTIAL: the bytes a merge would cut off first */
  int32_t deciding_piece;  /* the piece whose check decides a failure; -1 */
  /* Version 0.2.0 ends here (TARVELIN_OUTCOME_SIZE_1). */
  int read_back;           /* split: every piece and the manifest were read back from
                              the medium and proved */
  int file_system;         /* split: a TARVELIN_FS_ value, the pieces' file system */
} tarvelin_outcome;

#define TARVELIN_OUTCOME_SIZE_1 offsetof(tarvelin_outcome, read_back)

/* The file system that holds the pieces, as far as its limits go. */
enum tarvelin_file_system {
  TARVELIN_FS_UNKNOWN = 0,
  TARVELIN_FS_OTHER,
  TARVELIN_FS_FAT        /* FAT12/16/32: files of 4 GiB - 1 byte at most */
};

#ifdef __cplusplus
extern "C" {
#endif

/* Cuts `path` into pieces beside it (BASE.0, BASE.1, ...), or in
   options->piece_folder, records them in BASE.DAT, makes everything durable
   and deletes the source, as SplitBigWIM does (TARVELIN_KEEP_SOURCE keeps it).
   On a FAT file system, pieces too large for it or a name it refuses are
   refused before anything is written. */
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_split(const char* path,
                                                     const tarvelin_options* options,
                                                     tarvelin_outcome* outcome);
/* Rebuilds `path` from its pieces (beside it, or in options->piece_folder),
   as MergeIntoWIM does (TARVELIN_KEEP_PIECES deletes nothing); a path that
   names the manifest or a piece is RC_INVALID_ARGUMENT. */
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_merge(const char* path,
                                                     const tarvelin_options* options,
                                                     tarvelin_outcome* outcome);
/* Changes nothing: checks every piece and the whole, tells each piece's
   verdict to the piece callback, and returns what tarvelin_merge would. */
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_verify(const char* path,
                                                      const tarvelin_options* options,
                                                      tarvelin_outcome* outcome);
/* Writes the file's fingerprint text, as the manifest records it (16
   upper-case hexadecimal pairs separated by spaces, 47 characters and a
   terminating 0), into `text`. A link is followed. */
#define TARVELIN_FINGERPRINT_BYTES 48
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_fingerprint(const char* path,
                                                           char text[TARVELIN_FINGERPRINT_BYTES],
                                                           const tarvelin_options* options,
                                                           tarvelin_outcome* outcome);
/* The same of a stream of the host's: `read` is called until it returns 0
   (the end) or less than 0 (a failure, RC_FILE_READ). */
typedef long(TARVELIN_CALLBACK* tarvelin_read_callback)(void* source, void* buffer, size_t size);
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_fingerprint_stream(
    tarvelin_read_callback read, void* source, char text[TARVELIN_FINGERPRINT_BYTES],
    const tarvelin_options* options, tarvelin_outcome* outcome);

/* Writes the original of `path` (from its pieces beside it, or in
   options->piece_folder) to options->output, which must be set, with no file
   in between: each piece is proved as it is written out, and the call stops
   at the first whose bytes are not its record's (RC_DIGEST_MISMATCH; the
   bytes of that piece have gone out already, so a host that writes them
   somewhere must look at the code), at a missing piece before anything is
   written (RC_FILE_OPEN), and proves the whole at the end. Deletes nothing. */
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_cat(const char* path,
                                                   const tarvelin_options* options,
                                                   tarvelin_outcome* outcome);

/* The names that a split of `path` gives: its manifest, and its piece
   `piece`. Write up to `size` bytes with the terminating 0 and return the
   length of the whole name (as snprintf does); 0 when `path` is no path. */
TARVELIN_API size_t TARVELIN_CALL tarvelin_manifest_name(const char* path, char* out, size_t size);
TARVELIN_API size_t TARVELIN_CALL tarvelin_piece_name(const char* path, int32_t piece, char* out,
                                                      size_t size);
/* "RC_FILE_OPEN" for RC_FILE_OPEN; "RC_UNKNOWN" for a value of no code. */
TARVELIN_API const char* TARVELIN_CALL tarvelin_code_name(ResultCode code);
/* "0.3.0" */
TARVELIN_API const char* TARVELIN_CALL tarvelin_version(void);

#if defined(_WIN32)
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_split_w(const wchar_t* path,
                                                       const tarvelin_options* options,
                                                       tarvelin_outcome* outcome);
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_merge_w(const wchar_t* path,
                                                       const tarvelin_options* options,
                                                       tarvelin_outcome* outcome);
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_verify_w(const wchar_t* path,
                                                        const tarvelin_options* options,
                                                        tarvelin_outcome* outcome);
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_cat_w(const wchar_t* path,
                                                     const tarvelin_options* options,
                                                     tarvelin_outcome* outcome);
TARVELIN_API ResultCode TARVELIN_CALL tarvelin_fingerprint_w(const wchar_t* path,
                                                             char text[TARVELIN_FINGERPRINT_BYTES],
                                                             const tarvelin_options* options,
                                                             tarvelin_outcome* outcome);
#endif

#ifdef __cplusplus
}
#endif

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
