#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# tarvelin.exe under Wine behaves as the native tarvelin does: for each step
# of a round trip (split, verify, merge, fingerprint, of a file whose name is
# not ASCII) and of a table of failures and usage errors, both tools run in
# folders that hold the same files, and must print the same lines (Windows
# ends them with CRLF, and shows a bare FILE as .\FILE), exit with the same
# code and leave the same files with the same bytes. Being compared with the
# native tool, the test holds as the tool's messages change.
#
# usage: tool_matches_native.sh NATIVE_TOOL WINDOWS_TOOL EMULATOR
set -euo pipefail
[[ -x $1 ]] || { echo "no native tool at $1: build the native tree first" >&2; exit 1; }
native_tool=$(realpath "$1")
windows_tool=$(realpath "$2")
emulator=$3
# Wine hands the arguments to the program in UTF-16, read from UTF-8.
export LC_ALL=C.UTF-8

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-tool.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/native" "$work/windows"
failures=0

# Wine's output goes to files, never to a pipe (see cross/cross_system.sh).
run_native() { (cd "$work/native" && "$native_tool" "$@") >"$work/out" 2>"$work/err"; }
run_windows() { (cd "$work/windows" && "$emulator" "$windows_tool" "$@") </dev/null >"$work/out" 2>"$work/err"; }
# Wine's own diagnostics ("wine: ...", a volume it cannot read) are not the
# tool's.
plain() { tr -d '\r' | sed '/^wine: /d; s/\.\\//g; s/\\/\//g'; }
folder_state() { (cd "$work/$1" && find . -type f -print0 | sort -z | xargs -0r md5sum); }

# step ARGUMENT...: runs the tool on both sides and compares what each did.
step() {
  local side status
  for side in native windows; do
    status=0
    "run_$side" "$@" || status=$?
    { echo "exit $status"; plain <"$work/out"; echo "-- stderr"; plain <"$work/err"
      echo "-- files"; folder_state "$side"; } >"$work/$side.result"
  done
  if cmp -s "$work/native.result" "$work/windows.result"; then
    echo "same: tarvelin $* ($(head -1 "$work/native.result"))"
  else
    echo "DIFFERENT: tarvelin $*"
    diff -u --label native --label windows "$work/native.result" "$work/windows.result" || true
    failures=$((failures + 1))
  fi
}

# The same bytes on both sides: a sample of 3 MiB and 5 bytes, so that 1 MiB
# pieces make four.
name='dïsk €.img'
head -c $((3 * 1048576 + 5)) /dev/urandom >"$work/native/$name"
cp "$work/native/$name" "$work/windows/$name"

step split "$name" --size 1
step verify "$name"
step merge "$name"
step fingerprint "$name"

# Carried to a folder of its own and back: the split reads it back from
# there (FILE_FLAG_NO_BUFFERING on Windows), the verify, the stream and the
# merge read from there. Windows names the pieces with its own separator.
mkdir "$work/native/stick" "$work/windows/stick"
step split "$name" --size 1 --to stick --keep
step verify "$name" --from stick
step cat "$name" --from stick
rm "$work/native/$name" "$work/windows/$name"
step merge "$name" --from stick
step split "$name" --size 1 --to missing

# A piece changed after the split: verify and merge both find it.
step split -q "$name" -s 1
for side in native windows; do printf 'X' | dd of="$work/$side/dïsk €.2" bs=1 seek=7 conv=notrunc status=none; done
step verify "$name"
step merge "$name"

step merge nothing.img
step split missing.img
step split "$name" --size 1000MB
step bogus
step --version
step --help

((failures == 0)) || { echo "$failures step(s) differed"; exit 1; }
echo "tarvelin.exe under Wine did what the native tool did at every step"
