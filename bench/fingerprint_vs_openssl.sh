#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
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

# Runs "$@" once with its output discarded and prints its wall-clock seconds
# and its processor seconds (user plus system).
measure() {
  local TIMEFORMAT='%3R %3U %3S' line
  line=$({ time "$@" >/dev/null 2>&1; } 2>&1)
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$line"
}

# The programs take turns so that a change in the machine's load touches
# both; the fastest run of each counts.
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
ours_wall= ours_cpu= theirs_wall= theirs_cpu=
for ((run = 1; run <= runs; run++)); do
  read -r wall cpu < <(measure "$tool" "$file")
  ours_wall=$(best "$ours_wall" "$wall") ours_cpu=$(best "$ours_cpu" "$cpu")
  printf 'run %d: fingerprint_tool %s s (cpu %s s), ' "$run" "$wall" "$cpu"
  read -r wall cpu < <(measure openssl md5 "$file")
  theirs_wall=$(best "$theirs_wall" "$wall") theirs_cpu=$(best "$theirs_cpu" "$cpu")
  printf 'openssl md5 %s s (cpu %s s)\n' "$wall" "$cpu"
done

ours_digest=$("$tool" "$file" | cut -c1-47 | tr -d ' ' | tr 'A-F' 'a-f')
theirs_digest=$(openssl md5 "$file" | sed 's/.*= *//')
echo "fingerprint_tool: $ours_digest"
echo "openssl md5:      $theirs_digest"

awk -v ow="$ours_wall" -v tw="$theirs_wall" -v oc="$ours_cpu" -v tc="$theirs_cpu" 'BEGIN {
  printf "best wall:  fingerprint_tool %.3f s, openssl md5 %.3f s, ratio %.3f\n", ow, tw, ow / tw
  printf "best cpu:   fingerprint_tool %.3f s, openssl md5 %.3f s, ratio %.3f\n", oc, tc, oc / tc
}'

if [[ $ours_digest != "$theirs_digest" ]]; then
  echo "the digests differ" >&2
  exit 1
fi
