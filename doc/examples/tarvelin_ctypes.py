#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Tarvelin from Python through ctypes alone: split, verify, cancel, merge.

usage: tarvelin_ctypes.py FILE [LIBRARY]

Cuts FILE into 1 MiB pieces beside it (deleting FILE, as every split does),
verifies them with a progress display, starts a merge and cancels it, then
merges FILE back and checks that its fingerprint is the one it had. LIBRARY
is libtarvelin.so or tarvelin.dll; without it, $TARVELIN_LIBRARY, else the
one that the system's loader finds.
"""
import ctypes
import ctypes.util
import os
import sys
from ctypes import POINTER, Structure, byref, c_char, c_char_p, c_int, c_uint32, c_uint64
from ctypes import c_int32, c_void_p, sizeof


# The structs of <tarvelin/tarvelin.h>, field for field.
class Progress(Structure):
    _fields_ = [("phase", c_int), ("piece", c_int32), ("piece_count", c_int32),
                ("done", c_uint64), ("total", c_uint64)]


class Piece(Structure):
    _fields_ = [("number", c_int32), ("name", c_char_p), ("state", c_int),
                ("system_error", c_uint32), ("system_message", c_char_p),
                ("open_failed", c_int), ("file_kind", c_int)]


# TARVELIN_CALLBACK is the C calling convention on every system.
ProgressCallback = ctypes.CFUNCTYPE(c_int, POINTER(Progress), c_void_p)
PieceCallback = ctypes.CFUNCTYPE(None, POINTER(Piece), c_void_p)


class Options(Structure):
    _fields_ = [("size", c_uint32), ("flags", c_uint32), ("piece_size", c_uint64),
                ("progress", ProgressCallback), ("piece", PieceCallback),
                ("user_data", c_void_p), ("cancel", POINTER(c_int)),
                ("piece_folder", c_char_p)]


class Outcome(Structure):
    _fields_ = [("size", c_uint32), ("code", c_uint32), ("step", c_int), ("role", c_int),
                ("piece", c_int32), ("file", c_char * 1024), ("file_kind", c_int),
                ("system_error", c_uint32), ("system_message", c_char * 256),
                ("details", c_uint32), ("missing_piece", c_int32), ("pieces", c_int32),
                ("bytes", c_uint64), ("resumed_from", c_int32), ("tidied", c_int),
                ("file_existed", c_int), ("manifest_found", c_int), ("unrecorded", c_int32),
                ("space_needed", c_uint64), ("space_free", c_uint64), ("recorded", c_int32),
                ("source_recorded", c_int), ("joined", c_int), ("joined_stop", c_int32),
                ("existing", c_int), ("resume_from", c_int32), ("resume_cut", c_uint64),
                ("deciding_piece", c_int32)]


RC_OK, RC_CANCELLED = 0, 0xE0F00018
PIECE_STATES = (None, "OK", "FAILED", "UNREADABLE", "MISSING", "JOINED", "NOT_RECORDED")


def load(path=None):
    """The library at `path`, else at $TARVELIN_LIBRARY, else the system's."""
    path = (path or os.environ.get("TARVELIN_LIBRARY") or ctypes.util.find_library("tarvelin")
            or ("tarvelin.dll" if os.name == "nt" else "libtarvelin.so.0"))
    lib = ctypes.CDLL(path)  # TARVELIN_CALL is the C calling convention too
    for name in ("split", "merge", "verify"):
        getattr(lib, "tarvelin_" + name).argtypes = [c_char_p, POINTER(Options), POINTER(Outcome)]
        getattr(lib, "tarvelin_" + name).restype = c_uint32
    lib.tarvelin_fingerprint.argtypes = [c_char_p, c_char_p, POINTER(Options), POINTER(Outcome)]
    lib.tarvelin_fingerprint.restype = c_uint32
    lib.tarvelin_code_name.argtypes = [c_uint32]
    lib.tarvelin_code_name.restype = c_char_p
    lib.tarvelin_version.restype = c_char_p
    return lib


def run(lib, name, path, *more, options=None, want=RC_OK):
    """Calls tarvelin_`name` on `path`; exits with its account unless it gives `want`."""
    outcome = Outcome(size=sizeof(Outcome))
    code = getattr(lib, "tarvelin_" + name)(os.fsencode(path), *more, options, byref(outcome))
    if code != want:
        sys.exit(f"{name}: {lib.tarvelin_code_name(code).decode()}: "
                 f"{outcome.file.decode()} ({outcome.system_message.decode()})")
    return outcome


def fingerprint(lib, path):
    text = ctypes.create_string_buffer(48)  # TARVELIN_FINGERPRINT_BYTES
    run(lib, "fingerprint", path, text)
    return text.value.decode()


def show_progress(progress, user_data):
    p = progress.contents
    print(f"\r{100 * p.done // max(p.total, 1):3d}%", end="", flush=True)
    return 0  # go on


def show_piece(piece, user_data):
    p = piece.contents
    print(f"\r{p.name.decode()}: {PIECE_STATES[p.state]}")


def main(path, library=None):
    lib = load(library)
    print("Tarvelin", lib.tarvelin_version().decode())
    before = fingerprint(lib, path)

    # Options start with their size; the fields left out are zero, the defaults.
    outcome = run(lib, "split", path, options=Options(size=sizeof(Options), piece_size=1 << 20))
    print(f"split {outcome.bytes} bytes into {outcome.pieces} pieces")

    # The Options hold the callbacks, which must live as long as the call.
    outcome = run(lib, "verify", path, options=Options(
        size=sizeof(Options), progress=ProgressCallback(show_progress),
        piece=PieceCallback(show_piece)))
    print(f"\rverified: {outcome.recorded} pieces; a merge would succeed")

    # Any answer but 0 cancels; so does a non-zero int at `cancel`, set from
    # another thread. What the call left is kept, and the same call again
    # finishes the work.
    stop = ProgressCallback(lambda progress, user_data: 1)
    run(lib, "merge", path, options=Options(size=sizeof(Options), progress=stop),
        want=RC_CANCELLED)
    print("cancelled a merge")

    outcome = run(lib, "merge", path)
    same = fingerprint(lib, path) == before
    print(f"merged {outcome.pieces} pieces back:", "the same bytes" if same else "NOT the same")
    return 0 if same else 1


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
