#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer harnesses of fuzz/ with clang-14 (ASan and UBSan on)
# into build-fuzz, replays each harness's corpus, then fuzzes each harness for
# the given number of seconds. Installs clang-14 and its fuzzer runtime first
# when they are missing (as root through apt-get).
#
#   tools/fuzz.sh [SECONDS_PER_HARNESS]     (default 60; 0 replays only)
#
# New inputs that a run finds go to build-fuzz/corpus/<harness>, never into
# the seed corpus in fuzz/corpus; a crashing input is written to
# build-fuzz/artifacts/ and the script fails (exit 1).
#
# Exits 77, the reason on its last line, when clang-14 or its fuzzer runtime
# is missing and cannot be installed: tools/test-all.sh then skips fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
build="$root/build-fuzz"
harnesses=(profile_reader merge)

fuzzer_runtime() {
  local dir
  for dir in /usr/lib/llvm-14/lib/clang/*/lib/linux; do
    [ -f "$dir/libclang_rt.fuzzer-x86_64.a" ] && return 0
  done
  return 1
}
have_tools() { command -v clang++-14 >/dev/null 2>&1 && fuzzer_runtime; }

# apt_update: refreshes the package index. A mirror in the middle of a sync
# serves index files that do not match their Release file, so it tries three
# times, 20 s apart. Failing is not fatal: the packages may still install.
apt_update() {
  local try
  for try in 1 2 3; do
    apt-get update -qq >"$apt_log" 2>&1 && return 0
    if [ "$try" -lt 3 ]; then
      echo "apt-get update failed (try $try of 3); trying again in 20 s" >&2
      sleep 20
    fi
  done
  echo "apt-get update failed 3 times; going on with the package index as it is:" >&2
  grep -E '^[EW]: ' "$apt_log" | tail -n 4 | sed 's/^/  /' >&2
  return 1
}

if ! have_tools; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Run as root, or install these Debian packages first: clang-14 libclang-rt-14-dev" >&2
    exit 77
  fi
  echo "Installing: clang-14 libclang-rt-14-dev"
  export DEBIAN_FRONTEND=noninteractive
  apt_log=$(mktemp "${TMPDIR:-/tmp}/tarvelin-fuzz-apt.XXXXXX")
  trap 'rm -f "$apt_log"' EXIT
  apt_update || true
  if ! apt-get install -y -q --no-install-recommends clang-14 libclang-rt-14-dev \
      >"$apt_log" 2>&1; then
    echo "apt-get install failed:" >&2
    tail -n 6 "$apt_log" | sed 's/^/  /' >&2
  fi
  if ! have_tools; then
    echo "clang-14 and libclang-rt-14-dev could not be installed" >&2
    exit 77
  fi
fi

echo "== Building the fuzz harnesses"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DTARVELIN_BUILD_FUZZERS=ON -DTARVELIN_BUILD_TESTS=OFF -DTARVELIN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target profile_reader_fuzzer merge_fuzzer

mkdir -p "$build/artifacts"
for harness in "${harnesses[@]}"; do
  fuzzer="$build/fuzz/${harness}_fuzzer"
  seeds="$root/fuzz/corpus/$harness"
  found="$build/corpus/$harness"
  mkdir -p "$found"
  echo "== $harness: replaying $(ls "$seeds" | wc -l) seed inputs"
  if ! "$fuzzer" -runs=0 -artifact_prefix="$build/artifacts/$harness-" "$seeds" \
      >"$build/$harness-replay.log" 2>&1; then
    tail -n 60 "$build/$harness-replay.log" >&2
    echo "$harness: a seed input fails" >&2
    exit 1
  fi
  if [ "$seconds" -gt 0 ]; then
    echo "== $harness: fuzzing for $seconds s"
    log="$build/$harness.log"
    status=0
    "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
      -dict="$root/fuzz/$harness.dict" -artifact_prefix="$build/artifacts/$harness-" \
      "$found" "$seeds" >"$log" 2>&1 || status=$?
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
    if [ "$status" -ne 0 ]; then
      tail -n 60 "$log" >&2
      echo "$harness: the fuzzer failed (status $status); inputs in $build/artifacts" >&2
      # Not its status: libFuzzer reports a crash with 77 by default.
      exit 1
    fi
  fi
done
echo "fuzz: every harness replayed its corpus and ran clean"
