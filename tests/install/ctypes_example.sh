#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the Python example (doc/examples/tarvelin_ctypes.py) against a built
# libtarvelin.so on a scratch file. It must give the file back byte for byte,
# leave nothing else, and print the counts from the outcome, which come out
# right only while its structs lie as the header's do.
#
# usage: ctypes_example.sh PYTHON EXAMPLE LIBRARY
set -euo pipefail
python=$1 example=$2 library=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-ctypes.XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c 2500000 /dev/urandom >"$work/sample.bin"  # three pieces of 1 MiB at most
cp "$work/sample.bin" "$work/original"
output=$(cd "$work" && "$python" "$example" sample.bin "$library")
tr -s '\r' '\n' <<<"$output"

for line in "split 2500000 bytes into 3 pieces" "sample.2: OK" "verified: 3 pieces" \
  "cancelled a merge" "merged 3 pieces back: the same bytes"; do
  grep -qF "$line" <<<"$output" || { echo "FAILED: no \"$line\"" >&2; exit 1; }
done
cmp "$work/sample.bin" "$work/original" || { echo "FAILED: the bytes differ" >&2; exit 1; }
left=$(cd "$work" && echo *)
[[ $left == "original sample.bin" ]] || { echo "FAILED: it left $left" >&2; exit 1; }
echo "ok: the ctypes example"
