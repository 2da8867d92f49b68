#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Pieces cut on one system are joined on the other: a split through
# libtarvelin.so and a merge through tarvelin.dll under Wine, and the reverse,
# for a few sizes and piece sizes. The rebuilt file must equal the original,
# nothing may be left beside it, and both systems must write the same manifest
# bytes for the same file.
#
# usage: cross_system.sh NATIVE_HOST WINDOWS_HOST EMULATOR
#   NATIVE_HOST   export_host from the native build
#   WINDOWS_HOST  export_host.exe from the Windows build
#   EMULATOR      the program that runs WINDOWS_HOST (wine)
set -euo pipefail
native_host=$1
windows_host=$2
emulator=$3
[[ -x $native_host ]] || { echo "no native host at $native_host: build the native tree first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-cross.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Wine maps drive Z: to the root of the Unix file system.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
run_native() { "$native_host" "$@"; }
# Wine's output goes to files, never to a pipe: a Wine service that a program
# starts inherits it and would hold a pipe, and whoever reads it, open.
run_windows() {
  local operation=$1 path status=0
  path=$(windows_path "$2")
  shift 2
  "$emulator" "$windows_host" "$operation" "$path" "$@" </dev/null >"$work/windows.out" \
    2>>"$work/wine.log" || status=$?
  tr -d '\r' <"$work/windows.out"
  return "$status"
}
fail() {
  echo "FAILED: $*" >&2
  if [[ -s $work/wine.log ]]; then
    echo "Wine said:" >&2
    cat "$work/wine.log" >&2
  fi
  exit 1
}

# round_trip CUTTER JOINER BYTES MIB: cuts a fresh random file with CUTTER
# and joins it with JOINER; leaves the manifest's bytes in $work/CUTTER.DAT.
round_trip() {
  local cutter=$1 joiner=$2 bytes=$3 mib=$4
  local folder=$work/$cutter-$joiner-$bytes-$mib
  mkdir -p "$folder"
  head -c "$bytes" "$work/original" >"$folder/disk.img"
  local expected
  expected=$(md5sum <"$folder/disk.img")

  local output
  output=$("run_$cutter" split "$folder/disk.img" "$mib") || fail "$cutter split of $bytes bytes in $mib MiB pieces: $output"
  [[ ! -e $folder/disk.img ]] || fail "$cutter split kept its source"
  [[ -f $folder/disk.DAT ]] || fail "$cutter split wrote no manifest"
  cp "$folder/disk.DAT" "$work/$cutter.DAT"
  local pieces
  pieces=$(find "$folder" -name 'disk.[0-9]*' | wc -l)

  output=$("run_$joiner" merge "$folder/disk.img") || fail "$joiner merge of $cutter's $pieces pieces: $output"
  [[ $(md5sum <"$folder/disk.img") == "$expected" ]] || fail "$joiner rebuilt another file from $cutter's pieces"
  [[ -z $(find "$folder" -name 'disk.[0-9]*' -o -name disk.DAT) ]] || fail "$joiner merge left pieces or the manifest"
  echo "ok: $bytes bytes in $mib MiB pieces ($pieces pieces), cut by $cutter, joined by $joiner"
}

head -c $((11 * 1048576 + 12345)) /dev/urandom >"$work/original"
# bytes, MiB: more than ten pieces; empty pieces of size 0; one piece.
cases=("$((11 * 1048576 + 12345)) 1" "$((3 * 1048576 + 7)) 0" "100000 4")
for one_case in "${cases[@]}"; do
  read -r bytes mib <<<"$one_case"
  round_trip native windows "$bytes" "$mib"
  round_trip windows native "$bytes" "$mib"
  cmp -s "$work/native.DAT" "$work/windows.DAT" || fail "the two systems wrote different manifests for $bytes bytes in $mib MiB pieces"
done
echo "both systems wrote the same manifest bytes in every case"
