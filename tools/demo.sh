#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The quick start's main job: builds the tarvelin tool, makes a 300 MiB
# sample file, splits it into 64 MiB pieces, verifies them, merges them back
# (with progress on a terminal) and compares the result with the original.
#
#   bash tools/demo.sh [FOLDER]
#
# FOLDER receives the sample (about 900 MiB at the peak: the sample, its
# copy for the comparison and the pieces); by default a fresh folder under
# /tmp, removed at the end. Installs cmake, g++, make and GoogleTest's
# sources first when they are missing and it runs as root.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
sample_mib=300

say() { printf '\n== %s\n' "$*"; }
fail() {
  printf '\nDemo FAILED: %s\n' "$*" >&2
  exit 1
}

# What the build needs, and a check that shows each is there.
declare -A probe=(
  [cmake]="command -v cmake"
  [g++]="command -v g++"
  [make]="command -v make"
  [googletest]="test -f /usr/src/googletest/CMakeLists.txt"
)
missing=()
for package in "${!probe[@]}"; do
  bash -c "${probe[$package]}" >/dev/null 2>&1 || missing+=("$package")
done
tests=ON
if ((${#missing[@]})); then
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
    say "Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    for package in cmake g++ make; do
      [[ " ${missing[*]} " == *" $package "* ]] &&
        fail "$package is missing; install it (Debian: apt-get install cmake g++ make) or run as root"
    done
    tests=OFF  # the tool builds without GoogleTest; only the tests need it
  fi
fi

say "Building the tarvelin tool into build/"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DTARVELIN_BUILD_TESTS=$tests >/dev/null
cmake --build "$root/build" -j"$jobs" --target tarvelin_tool >/dev/null
tool="$root/build/cli/tarvelin"
"$tool" --version

remove_sample() { rm -f sample.img sample.[0-9]* sample.DAT original.img; }
if [ $# -ge 1 ]; then
  mkdir -p "$1"
  work=$(cd "$1" && pwd)
  trap 'cd "$work" && remove_sample' EXIT
else
  work=$(mktemp -d /tmp/tarvelin-demo.XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"
remove_sample  # what an earlier run in the same folder may have left

say "Making a ${sample_mib} MiB sample of random bytes: $work/sample.img"
head -c "$((sample_mib * 1048576))" /dev/urandom > sample.img
cp sample.img original.img

say "tarvelin split sample.img --size 64M"
"$tool" split sample.img --size 64M || fail "the split failed"
ls -l sample.*

say "tarvelin verify sample.img"
"$tool" verify sample.img || fail "the verify found a fault"

say "tarvelin merge sample.img"
"$tool" merge sample.img || fail "the merge failed"

say "Comparing the rebuilt file with the original"
"$tool" fingerprint original.img sample.img
cmp original.img sample.img || fail "the rebuilt file differs from the original"
leftovers=$(ls sample.[0-9]* sample.DAT 2>/dev/null || true)
[ -z "$leftovers" ] || fail "the merge left files behind: $leftovers"

printf '\nDemo passed: a %d MiB file was split into 64 MiB pieces, verified and merged back byte for byte.\n' \
  "$sample_mib"
