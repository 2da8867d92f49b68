#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The speed report: the library's fingerprint, split and merge, each timed as a
# whole process against the tools that a shell user would reach for, on the
# same cached files and in one run. Prints a table of the fastest wall-clock
# times, the ratios and whether each meets its target.
#
#   fingerprint   fingerprint_tool FILE        against  openssl md5 FILE
#   split         operation_tool split FILE 64 against  md5sum FILE; split -b 64M;
#                                                      md5sum PIECES; sync PIECES; rm FILE
#   merge         operation_tool merge FILE    against  md5sum PIECES; cat PIECES >FILE;
#                                                      sync FILE; md5sum FILE; rm PIECES
#   many pieces   operation_tool split FILE 1  against  operation_tool split FILE 64
#
# Before every timed run the files are laid anew from pristine copies kept in
# the same folder (a copy, so they stay in the page cache), and `sync` pushes
# out earlier writes so that their writeback does not land in the timing. The
# programs take turns, so a change in the machine's load touches both sides.
#
# usage: bench/speed_report.sh [options] [FOLDER]
#   FOLDER          work folder (default /tmp/tarvelin-speed). On a disk,
#                   the flushes cost what they cost a user; on tmpfs (e.g.
#                   /dev/shm/tarvelin-speed) the figures are bound by the CPU.
#   --build DIR     build folder for the Release tools (default: build); it is
#                   configured and the tools built if needed
#   --runs N        timed runs of each program (default 5); the fastest counts,
#                   since whatever else the machine does only adds time
#   --size MIB      size of the test file (default 512)
#   --no-build      use the tools already built in the build folder
#   --keep          keep the test files for the next report (default: removed)
# Exit status: 0 when every target is met, 1 when one is missed, 2 on an error.

# The programs under test are called through `measure`, which shellcheck
# cannot follow.
# shellcheck disable=SC2317
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
invocation="bench/speed_report.sh $*"
build=$root/build
runs=5
size_mib=512
keep=0
build_tools=1
folder=/tmp/tarvelin-speed

# usage [STATUS]: prints the usage above, to stderr unless STATUS is 0.
usage() {
  if [[ ${1:-2} == 0 ]]; then
    sed -n '/^# usage:/,/^# Exit status/s/^# \{0,1\}//p' "$0"
    exit 0
  fi
  sed -n '/^# usage:/,/^# Exit status/s/^# \{0,1\}//p' "$0" >&2
  exit 2
}
while (($#)); do
  case $1 in
    --build) build=${2:?--build needs a folder}; shift 2 ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --size) size_mib=${2:?--size needs a number of MiB}; shift 2 ;;
    --keep) keep=1; shift ;;
    --no-build) build_tools=0; shift ;;
    -h | --help) usage 0 ;;
    -*) echo "unknown option $1" >&2; usage ;;
    *) folder=$1; shift ;;
  esac
done
[[ $runs =~ ^[1-9][0-9]*$ && $size_mib =~ ^[1-9][0-9]*$ ]] || usage
((size_mib >= 64)) || { echo "--size must be at least 64 MiB, one large piece" >&2; exit 2; }
[[ $build = /* ]] || build=$PWD/$build

for program in openssl md5sum split sync cmake; do
  command -v "$program" >/dev/null || { echo "$program is not installed" >&2; exit 2; }
done

# --- the tools, from a Release build -------------------------------------
if ((build_tools)); then
  if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$build" -j2 --target operation_tool fingerprint_tool >/dev/null
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
if [[ $build_type != Release ]]; then
  echo "warning: $build is a '$build_type' build; the figures mean little outside Release" >&2
fi
operation_tool=$build/bench/operation_tool
fingerprint_tool=$build/bench/fingerprint_tool
for tool in "$operation_tool" "$fingerprint_tool"; do
  [[ -x $tool ]] || { echo "no $tool; build it or drop --no-build" >&2; exit 2; }
done

# --- the files --------------------------------------------------------------
# pristine/disk.img       the source, made once from /dev/urandom
# pristine/pieces/        the same file cut into 64 MiB pieces with its manifest
# work/                   emptied and laid anew from pristine/ before every run
mkdir -p "$folder"
folder=$(cd "$folder" && pwd)
pristine=$folder/pristine
work=$folder/work
source_file=$pristine/disk.img
size=$((size_mib * 1048576))
echo "work folder: $folder ($(stat -f -c %T "$folder")), file: $size_mib MiB, runs: $runs"

# Other work on the machine inflates wall-clock times (processor times much
# less), so the load is shown before and after the runs.
cores=$(nproc)
load() { cut -d' ' -f1 /proc/loadavg; }
warn_if_loaded() {
  local now
  now=$(load)
  if awk -v l="$now" -v c="$cores" 'BEGIN { exit !(l > c / 2) }'; then
    echo "warning: load average $now on $cores cores $1; wall-clock figures are inflated, cpu ones less" >&2
  fi
}
warn_if_loaded "before the runs"
load_before=$(load)

mkdir -p "$pristine" "$work"
if [[ ! -f $source_file || $(stat -c %s "$source_file") -ne $size ]]; then
  rm -rf "$pristine/pieces"
  head -c "$size" /dev/urandom >"$source_file.partial"
  mv "$source_file.partial" "$source_file"
fi
expected=$(md5sum <"$source_file" | cut -c1-32)
if [[ ! -f $pristine/pieces/disk.DAT ]]; then
  rm -rf "$pristine/pieces.partial"
  mkdir -p "$pristine/pieces.partial"
  cp "$source_file" "$pristine/pieces.partial/disk.img"
  "$operation_tool" split "$pristine/pieces.partial/disk.img" 64 >/dev/null
  mv "$pristine/pieces.partial" "$pristine/pieces"
fi

clear_work() { find "$work" -mindepth 1 -delete; }
# Sets `pieces` to DIR/disk.0, DIR/disk.1, ... up to the first missing number.
ordered_pieces() {
  local n
  pieces=()
  for ((n = 0; ; n++)); do
    if [[ -e $1/disk.$n ]]; then pieces+=("$1/disk.$n"); else break; fi
  done
}
lay_source() { clear_work; cp "$source_file" "$work/disk.img"; }
lay_pieces() { clear_work; cp "$pristine"/pieces/* "$work/"; }

# Everything is read once so that every program starts from the page cache.
cat "$source_file" "$pristine"/pieces/* >/dev/null

# --- the programs under test -----------------------------------------------
# Each runs in the work folder on the files that its lay_* function put there.
ours_fingerprint() { "$fingerprint_tool" "$source_file"; }
openssl_fingerprint() { openssl md5 "$source_file"; }
ours_split() { "$operation_tool" split "$work/disk.img" "$1"; }
ours_merge() { "$operation_tool" merge "$work/disk.img"; }
pipeline_split() {
  (
    cd "$work"
    md5sum disk.img >disk.md5
    split -b 64M -d -a 4 disk.img disk.
    md5sum disk.[0-9]* >>disk.md5
    sync disk.[0-9]* disk.md5 .
    rm disk.img
  )
}
pipeline_merge() {
  (
    cd "$work"
    local pieces
    ordered_pieces .
    md5sum "${pieces[@]}" >/dev/null
    cat "${pieces[@]}" >disk.img
    sync disk.img .
    md5sum disk.img >/dev/null
    rm "${pieces[@]}"
  )
}

# --- checks, outside the timing --------------------------------------------
fail() { echo "check failed: $*" >&2; exit 2; }
recorded_source() { sed -n 's/^MD5_VALUE=//p' "$work/disk.DAT" | tr -d ' \r' | tr 'A-F' 'a-f'; }
check_split() {
  [[ ! -e $work/disk.img ]] || fail "the split kept its source"
  local pieces
  ordered_pieces "$work"
  [[ $(cat "${pieces[@]}" | md5sum | cut -c1-32) == "$expected" ]] || fail "the pieces do not rebuild the source"
  [[ $(recorded_source) == "$expected" ]] || fail "the manifest records another source fingerprint"
  local want=$(((size_mib + $1 - 1) / $1))
  local got
  got=$(find "$work" -name 'disk.[0-9]*' | wc -l)
  ((got == want)) || fail "$got pieces of $1 MiB, expected $want"
}
check_merge() {
  [[ $(md5sum <"$work/disk.img" | cut -c1-32) == "$expected" ]] || fail "the rebuilt file differs"
  [[ -z $(find "$work" -name 'disk.[0-9]*' -o -name disk.DAT) ]] || fail "the merge left pieces or its manifest"
}
check_fingerprint() {
  local ours theirs
  ours=$("$fingerprint_tool" "$source_file" | cut -c1-47 | tr -d ' ' | tr 'A-F' 'a-f')
  theirs=$(openssl md5 "$source_file" | sed 's/.*= *//')
  [[ $ours == "$expected" && $theirs == "$expected" ]] || fail "the fingerprints differ: $ours, $theirs"
}

# --- timing -----------------------------------------------------------------
# On some virtual machines a program that fills the page cache first after a
# pause runs up to a second slower in kernel time (copying into new cache
# pages), for reasons of its place in the run, not its own work; memory that
# the host must back anew is the likely cause. Filling and freeing twice the
# file's size of tmpfs just before each timed run gives every program the
# same, recently used memory. Without a writable /dev/shm nothing is done.
warm_memory() {
  local scratch=/dev/shm/tarvelin-speed-warm.$$
  head -c $((2 * size)) /dev/zero >"$scratch" 2>/dev/null || true
  rm -f "$scratch"
}

declare -A wall_times cpu_times
# measure NAME LAY COMMAND...: lays the files, flushes earlier writes, then
# times COMMAND as a whole (children included) and records its wall-clock and
# processor seconds under NAME. Its output must end in RC_OK where it prints one.
measure() {
  local name=$1 lay=$2 line wall user system TIMEFORMAT='%3R %3U %3S'
  shift 2
  "$lay"
  sync
  warm_memory
  line=$({ time "$@" >"$folder/output" 2>&1; } 2>&1) || fail "$name: $(cat "$folder/output")"
  if grep -q '^RC_' "$folder/output" && ! grep -qx RC_OK "$folder/output"; then
    fail "$name: $(cat "$folder/output")"
  fi
  read -r wall user system <<<"$line"
  wall_times[$name]+="$wall "
  cpu_times[$name]+="$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.3f", u + s }') "
  printf '  %-22s %7.3f s wall, %7.3f s cpu\n' "$name" "$wall" "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')"
}
median() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
nothing() { :; }

for ((run = 1; run <= runs; run++)); do
  echo "run $run of $runs"
  measure "fingerprint" nothing ours_fingerprint
  measure "openssl md5" nothing openssl_fingerprint
  ((run > 1)) || check_fingerprint
  # Whoever runs first after the fingerprints meets the machine in another
  # state (on virtual machines, memory that the host must back anew after the
  # files of the last run were freed), so the two sides swap places every run.
  if ((run % 2)); then
    measure "split 64 MiB" lay_source ours_split 64
    ((run > 1)) || check_split 64
    measure "split pipeline" lay_source pipeline_split
  else
    measure "split pipeline" lay_source pipeline_split
    measure "split 64 MiB" lay_source ours_split 64
  fi
  measure "split 1 MiB" lay_source ours_split 1
  ((run > 1)) || check_split 1
  if ((run % 2)); then
    measure "merge 64 MiB" lay_pieces ours_merge
    ((run > 1)) || check_merge
    measure "merge pipeline" lay_pieces pipeline_merge
  else
    measure "merge pipeline" lay_pieces pipeline_merge
    measure "merge 64 MiB" lay_pieces ours_merge
  fi
done
clear_work
load_after=$(load)
warn_if_loaded "after the runs"

# --- the report --------------------------------------------------------------
status=0
best() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | head -n 1; }
row() {
  local label=$1 ours=$2 theirs=$3 target=$4
  awk -v l="$label" -v o="$ours" -v t="$theirs" -v target="$target" \
    -v ow="$(best "${wall_times[$ours]}")" -v tw="$(best "${wall_times[$theirs]}")" \
    -v om="$(median "${wall_times[$ours]}")" -v tm="$(median "${wall_times[$theirs]}")" \
    -v oc="$(best "${cpu_times[$ours]}")" -v tc="$(best "${cpu_times[$theirs]}")" 'BEGIN {
      ratio = ow / tw
      printf "| %-22s | %-14s %6.3f | %-14s %6.3f | %5.2f | %6.2f | %5.2f | <= %.2f | %-4s |\n",
        l, o, ow, t, tw, ratio, om / tm, oc / tc, target, ratio <= target ? "pass" : "FAIL"
      exit ratio <= target ? 0 : 1
    }' || status=1
}
echo
echo "Whole processes, wall-clock seconds, the fastest of $runs runs; ratio = ours / yardstick."
echo "'median' is the ratio of the median runs, 'cpu' that of the least user + system seconds."
echo "Folder: $folder ($(stat -f -c %T "$folder")), file: $size_mib MiB; load average $load_before before, $load_after after, $cores cores."
echo
echo "| measurement            | ours                  | yardstick             | ratio | median |  cpu  | target  |      |"
echo "|------------------------|-----------------------|-----------------------|-------|--------|-------|---------|------|"
row "fingerprint" "fingerprint" "openssl md5" 1.05
row "split, 64 MiB pieces" "split 64 MiB" "split pipeline" 1.00
row "merge, 64 MiB pieces" "merge 64 MiB" "merge pipeline" 1.00
row "split, 1 vs 64 MiB" "split 1 MiB" "split 64 MiB" 1.30
echo
echo "reproduce: $invocation"

rm -f "$folder/output"
if ((keep == 0)); then rm -rf "$pristine" "$work"; rmdir "$folder" 2>/dev/null || true; fi
exit $status
