#!/usr/bin/env bash
# Times the library's whole-file fingerprint against `openssl md5` on the same
# cached 1 GiB file, whole process each, and prints the ratio of the fastest
# runs. Both digests are printed and must agree.
#
# usage: bench/fingerprint_vs_openssl.sh FOLDER [FINGERPRINT_TOOL] [RUNS]
#   FOLDER            where the 1 GiB test file is made, or reused if present
#   FINGERPRINT_TOOL  bench/fingerprint_tool from a Release build
#                     (default: build/bench/fingerprint_tool)
#   RUNS              timed runs of each program (default: 5)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:?usage: $0 FOLDER [FINGERPRINT_TOOL] [RUNS]}
tool=${2:-$root/build/bench/fingerprint_tool}
runs=${3:-5}
size=$((1024 * 1024 * 1024))
file=$folder/tarvelin-fingerprint-bench-1gib.bin

if [[ ! -x $tool ]]; then
  echo "no fingerprint tool at $tool; build the fingerprint_tool target (Release) first" >&2
  exit 2
fi
command -v openssl >/dev/null || { echo "openssl is not installed" >&2; exit 2; }

mkdir -p "$folder"
if [[ ! -f $file || $(stat -c %s "$file") -ne $size ]]; then
  echo "making $file"
  head -c "$size" /dev/urandom >"$file.partial"
  mv "$file.partial" "$file"
fi

# Both programs must read from the page cache, not the disk.
cat "$file" >/dev/null
cat "$file" >/dev/null

# Runs "$@" once with its output discarded and prints the elapsed nanoseconds.
elapsed_ns() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo $((end - start))
}

ours_best=
theirs_best=
for ((run = 1; run <= runs; run++)); do
  ours=$(elapsed_ns "$tool" "$file")
  theirs=$(elapsed_ns openssl md5 "$file")
  printf 'run %d: fingerprint_tool %.3f s, openssl md5 %.3f s\n' "$run" \
    "$(awk -v n="$ours" 'BEGIN { print n / 1e9 }')" "$(awk -v n="$theirs" 'BEGIN { print n / 1e9 }')"
  if [[ -z $ours_best || $ours -lt $ours_best ]]; then ours_best=$ours; fi
  if [[ -z $theirs_best || $theirs -lt $theirs_best ]]; then theirs_best=$theirs; fi
done

ours_digest=$("$tool" "$file" | cut -c1-47 | tr -d ' ' | tr 'A-F' 'a-f')
theirs_digest=$(openssl md5 "$file" | sed 's/.*= *//')
echo "fingerprint_tool: $ours_digest"
echo "openssl md5:      $theirs_digest"

awk -v ours="$ours_best" -v theirs="$theirs_best" 'BEGIN {
  printf "best of runs: fingerprint_tool %.3f s, openssl md5 %.3f s, ratio %.3f\n",
         ours / 1e9, theirs / 1e9, ours / theirs
}'

if [[ $ours_digest != "$theirs_digest" ]]; then
  echo "the digests differ" >&2
  exit 1
fi
