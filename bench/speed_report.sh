#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The speed report: the library's fingerprint, split, merge and verify, each
# timed as a whole process against the tools that a shell user would reach
# for, on the same files and in one run, first from the page cache and then
# from a cold cache. Prints the machine it ran on and a table of median and
# fastest wall-clock times, their ratios and whether each meets its target.
#
#   fingerprint   fingerprint_tool FILE         against  openssl md5 FILE
#   split         operation_tool split FILE 64  against  md5sum FILE; split -b 64M;
#                                                       md5sum PIECES; sync PIECES; rm FILE
#   merge         operation_tool merge FILE     against  md5sum PIECES; cat PIECES >FILE;
#                                                       sync FILE; md5sum FILE; rm PIECES
#   many pieces   operation_tool split FILE 1   against  operation_tool split FILE 64
#   verify        operation_tool verify FILE    against  md5sum PIECES; cat PIECES | md5sum
#   split --to    operation_tool split FILE 64 --to MEDIUM --keep --no-read-back
#                                               against  md5sum FILE; split -b 64M FILE MEDIUM/disk.;
#                                                       md5sum MEDIUM/disk.*; sync MEDIUM's files
#   merge --from  operation_tool merge FILE --from MEDIUM --keep
#                                               against  md5sum MEDIUM/PIECES; cat MEDIUM/PIECES >FILE;
#                                                       md5sum FILE; sync FILE
#   read-back     operation_tool split FILE 64 --to MEDIUM --keep --read-back, less the same
#                 --no-read-back (run by run), against  cat MEDIUM/PIECES >/dev/null from a
#                                                       dropped page cache
#
# The last three carry the file to another medium and back, as a user does
# with a USB disk: the source and the rebuilt file stay in FOLDER, the pieces
# and the manifest go to MEDIUM, a folder on another file system on another
# block device. Both sides keep what they read (the source, the pieces), so
# neither deletes. By default (as root) MEDIUM is a fresh ext4 file system in
# an image in FOLDER, attached to a loop device with direct I/O (so that the
# loop device does not read through FOLDER's page cache: what leaves MEDIUM's
# cache goes to the disk, as it would on a stick) and mounted for the report;
# --to names a folder of one's own instead. The read-back reads every piece
# past the page cache after the split made it durable, so its cost is weighed
# against one read of the pieces from the device: `cat` after
# `echo 3 > /proc/sys/vm/drop_caches` (as root; without it that row is left
# out).
#
# Before every timed run the files are laid anew from pristine copies kept in
# the same folder (a copy, so they stay in the page cache), and `sync` pushes
# out earlier writes so that their writeback does not land in the timing. The
# verify reads the pristine pieces in place. The programs take turns, so a
# change in the machine's load touches both sides. The cold runs come last:
# each drops the page cache (`echo 3 > /proc/sys/vm/drop_caches`, as root)
# after laying its files, so every byte is read from the disk. On tmpfs, or
# without the right to drop the cache, they are left out.
#
# usage: bench/speed_report.sh [options] [FOLDER]
#   FOLDER          work folder (default /tmp/tarvelin-speed). On a disk,
#                   the flushes cost what they cost a user; on tmpfs (e.g.
#                   /dev/shm/tarvelin-speed) the figures are bound by the CPU.
#   --build DIR     build folder for the Release tools (default: build); it is
#                   configured and the tools built if needed
#   --runs N        timed runs of each program (default 5); the targets are
#                   met or missed by the median run
#   --size MIB      size of the test file (default 512)
#   --no-cold       leave out the cold-cache runs
#   --no-build      use the tools already built in the build folder
#   --keep          keep the test files for the next report (default: removed)
#   --to MEDIUM     the folder for the split --to and merge --from rows, on
#                   another file system than FOLDER (default, as root: an ext4
#                   image in FOLDER on a loop device with direct I/O; without
#                   root, those rows are left out)
#   --no-to         leave out the split --to, merge --from and read-back rows
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
cold_runs=1
folder=/tmp/tarvelin-speed
medium=
to_runs=1

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
    --no-cold) cold_runs=0; shift ;;
    --keep) keep=1; shift ;;
    --no-build) build_tools=0; shift ;;
    --to) medium=${2:?--to needs a folder}; shift 2 ;;
    --no-to) to_runs=0; shift ;;
    -h | --help) usage 0 ;;
    -*) echo "unknown option $1" >&2; usage ;;
    *) folder=$1; shift ;;
  esac
done
[[ $runs =~ ^[1-9][0-9]*$ && $size_mib =~ ^[1-9][0-9]*$ ]] || usage
((size_mib >= 64)) || { echo "--size must be at least 64 MiB, one large piece" >&2; exit 2; }
[[ $build = /* ]] || build=$PWD/$build
[[ -z $medium || $medium = /* ]] || medium=$PWD/$medium

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

# --- the machine -------------------------------------------------------------
# Figures mean something only beside the machine that gave them: the processor
# and its caches (the fingerprint's reads are sized for them), the cores (the
# writeback runs beside the program), the kernel and the file system.
cpu_model() {
  local model
  model=$(sed -n 's/^model name[[:space:]]*: *//p' /proc/cpuinfo 2>/dev/null | head -n 1)
  [[ -n $model ]] || model=$(LC_ALL=C lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -n 1)
  echo "${model:-unknown processor}"
}
# "L1d 32K, L1i 32K, L2 1024K, L3 32768K shared by 2 cores", from the first
# processor's caches.
cache_sizes() {
  local index level type size shared sharers list=()
  for index in /sys/devices/system/cpu/cpu0/cache/index*; do
    [[ -r $index/size ]] || continue
    level=$(cat "$index/level")
    type=$(cat "$index/type")
    size=$(cat "$index/size")
    case $type in
      Data) level="L${level}d" ;;
      Instruction) level="L${level}i" ;;
      *) level="L$level" ;;
    esac
    shared=$(cat "$index/shared_cpu_list" 2>/dev/null || echo 0)
    sharers=$(awk -v list="$shared" 'BEGIN {
      n = split(list, ranges, ","); count = 0
      for (i = 1; i <= n; i++) { m = split(ranges[i], ends, "-"); count += (m == 2) ? ends[2] - ends[1] + 1 : 1 }
      print count }')
    if ((sharers > 1)); then list+=("$level $size shared by $sharers cores"); else list+=("$level $size"); fi
  done
  local IFS=, joined
  joined="${list[*]}"
  joined=${joined//,/, }
  echo "${joined:-cache sizes unknown}"
}
virtualization() {
  local vendor
  vendor=$(LC_ALL=C lscpu 2>/dev/null | sed -n 's/^Hypervisor vendor: *//p' | head -n 1)
  if [[ -n $vendor ]]; then
    echo ", a $vendor virtual machine"
  elif grep -qw hypervisor /proc/cpuinfo 2>/dev/null; then
    echo ", a virtual machine"
  fi
}
memory() { awk '/^MemTotal:/ { printf "%.1f GiB memory", $2 / 1048576 }' /proc/meminfo 2>/dev/null; }
file_system() {
  local where
  where=$(findmnt -no FSTYPE,SOURCE -T "$1" 2>/dev/null | head -n 1 | awk '{ print $1 " (" $2 ")" }')
  echo "${where:-$(stat -f -c %T "$1")}"
}
describe_machine() {
  echo "machine: $(cpu_model), $(nproc) cores$(virtualization); $(cache_sizes); $(memory); $(uname -sr)"
  echo "folder:  $folder on $(file_system "$folder")"
  if ((to_runs)); then echo "medium:  $medium on $(file_system "$medium")$medium_note"; fi
}

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

# --- the medium --------------------------------------------------------------
# A file system of its own on a block device of its own: an ext4 image in
# FOLDER on a loop device. Direct I/O keeps the loop device from reading
# through FOLDER's page cache, so that a page dropped from MEDIUM's cache is
# read again from the disk. The inode tables and the journal are written at
# once, so that no lazy initialisation writes beside the timed runs.
medium_note=
medium_image=
medium_device=
detach_medium() {
  if [[ -n $medium_device ]]; then
    umount "$folder/medium" 2>/dev/null || true
    losetup -d "$medium_device" 2>/dev/null || true
    medium_device=
  fi
  if [[ -n $medium_image ]]; then rm -f "$medium_image"; rmdir "$folder/medium" 2>/dev/null || true; fi
}
trap detach_medium EXIT
if ((to_runs)) && [[ -z $medium ]]; then
  if ((EUID != 0)) || ! command -v losetup >/dev/null || ! command -v mkfs.ext4 >/dev/null; then
    echo "no split --to, merge --from or read-back rows: mounting the medium needs root,"
    echo "losetup and mkfs.ext4 (or name a folder on another file system with --to)"
    to_runs=0
  else
    medium_image=$folder/medium.img
    mkdir -p "$folder/medium"
    rm -f "$medium_image"
    fallocate -l $((2 * size + 268435456)) "$medium_image"
    mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$medium_image"
    medium_device=$(losetup --find --show --direct-io=on "$medium_image")
    mount "$medium_device" "$folder/medium"
    medium=$folder/medium
    medium_note=", an image in FOLDER on a loop device with direct I/O"
  fi
fi
if ((to_runs)); then
  mkdir -p "$medium/pieces"
  medium=$(cd "$medium" && pwd)/pieces
  if [[ $(stat -c %d "$medium") == $(stat -c %d "$folder") ]]; then
    echo "warning: $medium is on the same file system as $folder" >&2
  fi
fi
describe_machine
echo "file: $size_mib MiB, runs: $runs"

# Cold runs need a cache that can be dropped: not tmpfs, whose files are the
# cache, and the right to write drop_caches.
fs_type=$(stat -f -c %T "$folder")
if ((cold_runs)); then
  if [[ $fs_type == tmpfs || $fs_type == ramfs ]]; then
    echo "no cold runs: on $fs_type the files live in memory"
    cold_runs=0
  elif [[ ! -w /proc/sys/vm/drop_caches ]]; then
    echo "no cold runs: dropping the page cache needs root"
    cold_runs=0
  fi
fi

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

clear_work() {
  find "$work" -mindepth 1 -delete
  if ((to_runs)); then find "$medium" -mindepth 1 -delete; fi
}
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
lay_medium_pieces() { clear_work; cp "$pristine"/pieces/* "$medium/"; }
nothing() { :; }

# Everything is read once so that every program starts from the page cache.
warm_files() { cat "$source_file" "$pristine"/pieces/* >/dev/null; }
warm_files

# --- the programs under test -----------------------------------------------
# Each runs in the work folder on the files that its lay_* function put there;
# the verifies and the fingerprints read the pristine files in place.
ours_fingerprint() { "$fingerprint_tool" "$source_file"; }
openssl_fingerprint() { openssl md5 "$source_file"; }
ours_split() { "$operation_tool" split "$work/disk.img" "$1"; }
ours_merge() { "$operation_tool" merge "$work/disk.img"; }
ours_verify() { "$operation_tool" verify "$pristine/pieces/disk.img"; }
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
ours_split_to() { "$operation_tool" split "$work/disk.img" 64 --to "$medium" --keep "$1"; }
ours_merge_from() { "$operation_tool" merge "$work/disk.img" --from "$medium" --keep; }
pipeline_split_to() {
  md5sum "$work/disk.img" >"$medium/disk.md5"
  split -b 64M -d -a 4 "$work/disk.img" "$medium/disk."
  md5sum "$medium"/disk.[0-9]* >>"$medium/disk.md5"
  sync "$medium"/disk.[0-9]* "$medium/disk.md5" "$medium"
}
pipeline_merge_from() {
  local pieces
  ordered_pieces "$medium"
  md5sum "${pieces[@]}" >/dev/null
  cat "${pieces[@]}" >"$work/disk.img"
  md5sum "$work/disk.img" >/dev/null
  sync "$work/disk.img" "$work"
}
read_medium_pieces() {
  local pieces
  ordered_pieces "$medium"
  cat "${pieces[@]}" >/dev/null
}
# The same proof as the verify's: each piece's digest, and that of the pieces
# joined.
pipeline_verify() {
  (
    cd "$pristine/pieces"
    local pieces
    ordered_pieces .
    md5sum "${pieces[@]}" >/dev/null
    cat "${pieces[@]}" | md5sum >/dev/null
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
check_split_to() {
  [[ $(md5sum <"$work/disk.img" | cut -c1-32) == "$expected" ]] || fail "the split to the medium changed its source"
  local pieces
  ordered_pieces "$medium"
  ((${#pieces[@]} == (size_mib + 63) / 64)) || fail "${#pieces[@]} pieces on the medium"
  [[ $(cat "${pieces[@]}" | md5sum | cut -c1-32) == "$expected" ]] || fail "the pieces on the medium do not rebuild the source"
  [[ $(sed -n 's/^MD5_VALUE=//p' "$medium/disk.DAT" | tr -d ' \r' | tr 'A-F' 'a-f') == "$expected" ]] ||
    fail "the manifest on the medium records another source fingerprint"
}
check_merge_from() {
  [[ $(md5sum <"$work/disk.img" | cut -c1-32) == "$expected" ]] || fail "the file rebuilt from the medium differs"
  [[ -f $medium/disk.DAT && -f $medium/disk.0 ]] || fail "the merge from the medium deleted what it read"
}
check_fingerprint() {
  local ours theirs
  ours=$("$fingerprint_tool" "$source_file" | cut -c1-47 | tr -d ' ' | tr 'A-F' 'a-f')
  theirs=$(openssl md5 "$source_file" | sed 's/.*= *//')
  [[ $ours == "$expected" && $theirs == "$expected" ]] || fail "the fingerprints differ: $ours, $theirs"
}
check_verify() {
  [[ $("$operation_tool" verify "$pristine/pieces/disk.img") == RC_OK ]] || fail "the verify did not find the pieces good"
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
cold=0
# measure NAME LAY COMMAND...: lays the files, flushes earlier writes (and in
# the cold runs drops the page cache), then times COMMAND as a whole
# (children included) and records its wall-clock and processor seconds under
# NAME. Its output must end in RC_OK where it prints one.
#   measure --drop NAME LAY COMMAND... drops the page cache whatever the run.
measure() {
  local drop=$cold
  if [[ $1 == --drop ]]; then drop=1; shift; fi
  local name=$1 lay=$2 line wall user system TIMEFORMAT='%3R %3U %3S'
  shift 2
  "$lay"
  sync
  warm_memory
  if ((drop)); then
    echo 3 >/proc/sys/vm/drop_caches
  fi
  if ((cold)); then
    name="$name, cold"
  fi
  line=$({ time "$@" >"$folder/output" 2>&1; } 2>&1) || fail "$name: $(cat "$folder/output")"
  if grep -q '^RC_' "$folder/output" && ! grep -qx RC_OK "$folder/output"; then
    fail "$name: $(cat "$folder/output")"
  fi
  read -r wall user system <<<"$line"
  wall_times[$name]+="$wall "
  cpu_times[$name]+="$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.3f", u + s }') "
  printf '  %-24s %7.3f s wall, %7.3f s cpu\n' "$name" "$wall" "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')"
}
median() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# in_turn RUN CHECK OURS... -- THEIRS...: measures both, swapping their order
# every other run, since whoever runs first after the runs before meets the
# machine in another state (on virtual machines, memory that the host must
# back anew after the files of the last run were freed). In the first run
# CHECK follows OURS, outside the timing.
in_turn() {
  local run=$1 check=$2 our_side=() their_side=()
  shift 2
  while [[ $1 != -- ]]; do our_side+=("$1"); shift; done
  shift
  their_side=("$@")
  if ((run % 2 == 0)); then measure "${their_side[@]}"; fi
  measure "${our_side[@]}"
  if ((run == 1)); then $check; fi
  if ((run % 2)); then measure "${their_side[@]}"; fi
}

for ((run = 1; run <= runs; run++)); do
  echo "run $run of $runs"
  in_turn "$run" check_fingerprint "fingerprint" nothing ours_fingerprint -- \
    "openssl md5" nothing openssl_fingerprint
  in_turn "$run" "check_split 64" "split 64 MiB" lay_source ours_split 64 -- \
    "split pipeline" lay_source pipeline_split
  measure "split 1 MiB" lay_source ours_split 1
  ((run > 1)) || check_split 1
  in_turn "$run" check_merge "merge 64 MiB" lay_pieces ours_merge -- \
    "merge pipeline" lay_pieces pipeline_merge
  in_turn "$run" check_verify "verify" nothing ours_verify -- \
    "verify pipeline" nothing pipeline_verify
  if ((to_runs)); then
    in_turn "$run" check_split_to "split --to" lay_source ours_split_to --no-read-back -- \
      "split --to pipeline" lay_source pipeline_split_to
    measure "split --to, read-back" lay_source ours_split_to --read-back
    ((run > 1)) || check_split_to
    if [[ -w /proc/sys/vm/drop_caches ]]; then
      measure --drop "read of the pieces, cold" lay_medium_pieces read_medium_pieces
    fi
    in_turn "$run" check_merge_from "merge --from" lay_medium_pieces ours_merge_from -- \
      "merge --from pipeline" lay_medium_pieces pipeline_merge_from
  fi
done
if ((cold_runs)); then
  cold=1
  for ((run = 1; run <= runs; run++)); do
    echo "cold run $run of $runs"
    in_turn "$run" nothing "fingerprint" nothing ours_fingerprint -- \
      "openssl md5" nothing openssl_fingerprint
    in_turn "$run" nothing "split 64 MiB" lay_source ours_split 64 -- \
      "split pipeline" lay_source pipeline_split
    in_turn "$run" nothing "merge 64 MiB" lay_pieces ours_merge -- \
      "merge pipeline" lay_pieces pipeline_merge
    in_turn "$run" nothing "verify" nothing ours_verify -- \
      "verify pipeline" nothing pipeline_verify
    if ((to_runs)); then
      in_turn "$run" nothing "split --to" lay_source ours_split_to --no-read-back -- \
        "split --to pipeline" lay_source pipeline_split_to
      in_turn "$run" nothing "merge --from" lay_medium_pieces ours_merge_from -- \
        "merge --from pipeline" lay_medium_pieces pipeline_merge_from
    fi
  done
  warm_files
fi
clear_work
load_after=$(load)
warn_if_loaded "after the runs"

# --- the report --------------------------------------------------------------
# The read-back's cost: run by run, the split with it less the split without
# it that ran beside it (wall and processor seconds).
differences() {
  paste -d' ' <(tr ' ' '\n' <<<"$1" | sed '/^$/d') <(tr ' ' '\n' <<<"$2" | sed '/^$/d') |
    awk '{ printf "%.3f ", $1 - $2 }'
}
if [[ -n ${wall_times["split --to, read-back"]:-} && -n ${wall_times["split --to"]:-} ]]; then
  wall_times["read-back"]=$(differences "${wall_times["split --to, read-back"]}" "${wall_times["split --to"]}")
  cpu_times["read-back"]=$(differences "${cpu_times["split --to, read-back"]}" "${cpu_times["split --to"]}")
fi
status=0
best() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | head -n 1; }
# row LABEL OURS THEIRS TARGET: one line of the table; TARGET "-" for none.
row() {
  local label=$1 ours=$2 theirs=$3 target=$4
  [[ -n ${wall_times[$ours]:-} && -n ${wall_times[$theirs]:-} ]] || return 0
  awk -v l="$label" -v target="$target" \
    -v ow="$(best "${wall_times[$ours]}")" -v tw="$(best "${wall_times[$theirs]}")" \
    -v om="$(median "${wall_times[$ours]}")" -v tm="$(median "${wall_times[$theirs]}")" \
    -v oc="$(median "${cpu_times[$ours]}")" -v tc="$(median "${cpu_times[$theirs]}")" 'BEGIN {
      ratio = om / tm
      verdict = target == "-" ? "" : (ratio <= target ? "pass" : "FAIL")
      printf "| %-28s | %6.3f (%6.3f) | %6.3f (%6.3f) | %6.2f | %7.2f | %5.2f | %-7s | %-4s |\n",
        l, om, ow, tm, tw, ratio, ow / tw, oc / tc, target == "-" ? "-" : "<= " target, verdict
      exit (target == "-" || ratio <= target) ? 0 : 1
    }' || status=1
}
echo
describe_machine
echo "Whole processes, wall-clock seconds: the median of $runs run(s) (the fastest in brackets)."
echo "Ratios are ours / yardstick: of the medians (which the targets judge), of the fastest runs,"
echo "and of the median user + system seconds (ours hashes on a second thread beside its reads, so its"
echo "cpu seconds may exceed its wall seconds). File: $size_mib MiB; load average $load_before before, $load_after after."
echo
echo "| measurement                  | ours, s         | yardstick, s    | median | fastest |  cpu  | target  |      |"
echo "|------------------------------|-----------------|-----------------|--------|---------|-------|---------|------|"
row "fingerprint / openssl md5" "fingerprint" "openssl md5" 0.95
row "split / pipeline, 64 MiB" "split 64 MiB" "split pipeline" 0.95
row "merge / pipeline, 64 MiB" "merge 64 MiB" "merge pipeline" 0.95
row "split, 1 MiB / 64 MiB pieces" "split 1 MiB" "split 64 MiB" 1.20
row "verify / shell proof" "verify" "verify pipeline" 0.60
row "split --to / pipeline" "split --to" "split --to pipeline" 0.95
row "merge --from / pipeline" "merge --from" "merge --from pipeline" 0.95
row "read-back / cold read" "read-back" "read of the pieces, cold" 1.00
row "split --to, with read-back" "split --to, read-back" "split --to pipeline" -
row "fingerprint, cold" "fingerprint, cold" "openssl md5, cold" -
row "split, cold" "split 64 MiB, cold" "split pipeline, cold" -
row "merge, cold" "merge 64 MiB, cold" "merge pipeline, cold" -
row "verify, cold" "verify, cold" "verify pipeline, cold" -
row "split --to, cold" "split --to, cold" "split --to pipeline, cold" -
row "merge --from, cold" "merge --from, cold" "merge --from pipeline, cold" -
echo
echo "reproduce: $invocation"

rm -f "$folder/output"
if ((to_runs)); then rmdir "$medium" 2>/dev/null || true; fi
detach_medium
if ((keep == 0)); then rm -rf "$pristine" "$work"; rmdir "$folder" 2>/dev/null || true; fi
exit $status
