#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test, as named stages: the native build and suite
# (with the install, the .deb and the hosts built against them), fuzzing, the
# same suite under ASan and UBSan, and the Windows DLLs, 32-bit and 64-bit:
# each built and its exports checked from the file, the zip of both, and
# their suites under Wine (with tarvelin.exe and the MSVC-ABI host). Installs
# what is missing first (as root through apt-get; otherwise it says what to
# install).
#
# Neither a package that cannot be installed (a mirror in the middle of a
# sync, say) nor a failing stage stops the run. A stage that needs a package
# that is not there is skipped, as is the 32-bit Wine stage on a machine that
# cannot run 32-bit programs even through tools/ensure-32bit.sh, and so is a
# stage that needs the output of one that did not pass. After a failure the
# remaining stages still run, so that one failure does not hide another.
# The last line reads "N passed, N failed, N skipped" and names the failed
# stages and the skipped ones with why.
#
# Exit status: 1 when any stage that ran failed, 0 otherwise, even when some
# stages were skipped. A skipped stage proved nothing and never counts as
# passed, and the end of the output says so loudly; but a package source that
# is broken for a while says nothing about the code, and should not turn CI
# red by itself. A run in which no stage passed at all proved nothing, and
# exits 1 too.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-test-all.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Packages, and a command or file that shows each is there.
declare -A probe=(
  [cmake]="command -v cmake"
  [g++]="command -v g++"
  [googletest]="test -f /usr/src/googletest/CMakeLists.txt"
  [libbenchmark-dev]="test -f /usr/include/benchmark/benchmark.h"
  [libssl-dev]="test -f /usr/include/openssl/evp.h"
  [g++-mingw-w64-i686]="command -v i686-w64-mingw32-g++"
  [wine]="command -v wine"
  [wine32]="test -e /usr/lib/wine/wine || dpkg -s wine32:i386 >/dev/null 2>&1"
  [binutils-mingw-w64-i686]="command -v i686-w64-mingw32-objdump"
  [g++-mingw-w64-x86-64]="command -v x86_64-w64-mingw32-g++"
  [wine64]="test -e /usr/lib/wine/wine64"
  [clang]="command -v clang++"
  [lld]="command -v lld-link"
  [llvm]="command -v llvm-dlltool"
  [pkg-config]="command -v pkg-config"
  [dpkg-dev]="command -v dpkg-shlibdeps"
  [file]="command -v file"
  [groff-base]="command -v groff"
  [dosfstools]="command -v mkfs.fat || test -x /usr/sbin/mkfs.fat"
  [fusefat]="command -v fusefat"
)

# --- Installing what is missing ----------------------------------------------

# Each package of the table that is still missing after installing, and why.
declare -A not_installed=()
can_install=0
[ "$(id -u)" -ne 0 ] || can_install=1

present() { bash -c "${probe[$1]}" >/dev/null 2>&1; }

# The name apt-get knows a package of the table by.
debian_name() {
  case $1 in
    wine32) echo wine32:i386 ;;
    *) echo "$1" ;;
  esac
}

# apt_update: refreshes the package index. A mirror in the middle of a sync
# serves index files that do not match their Release file, so it tries three
# times, 20 s apart. Failing is not fatal: the packages may still install from
# the index files that did arrive, or from older ones.
apt_update() {
  local try
  for try in 1 2 3; do
    apt-get update -qq >"$work/apt-update.log" 2>&1 && return 0
    if [ "$try" -lt 3 ]; then
      echo "apt-get update failed (try $try of 3); trying again in 20 s" >&2
      sleep 20
    fi
  done
  echo "apt-get update failed 3 times; going on with the package index as it is:" >&2
  grep -E '^[EW]: ' "$work/apt-update.log" | tail -n 4 | sed 's/^/  /' >&2
  return 1
}

# apt_install PACKAGE...: installs Debian packages, apt's output in
# $work/apt-install.log (-q, not -qq: that would leave out which dependencies
# are unmet); on failure shows its last lines.
apt_install() {
  apt-get install -y -q --no-install-recommends "$@" >"$work/apt-install.log" 2>&1 && return 0
  echo "apt-get install $* failed:" >&2
  apt_reason | sed 's/^/  /' >&2
  return 1
}

# The last lines of the last apt_install's output, which say why it failed.
apt_reason() { tail -n 6 "$work/apt-install.log"; }

# install_missing: installs each package of the table whose probe fails, all
# in one apt-get or, if that fails, one at a time, so that one that cannot be
# installed does not keep out the others. Fills not_installed.
install_missing() {
  local missing=() package
  for package in "${!probe[@]}"; do
    present "$package" || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  local names=()
  for package in "${missing[@]}"; do names+=("$(debian_name "$package")"); done

  if ((!can_install)); then
    echo "Run as root, or install these Debian packages first: ${names[*]}" >&2
    echo "Without them, the stages that need them are skipped." >&2
    for package in "${missing[@]}"; do
      not_installed[$package]="not installed, and installing needs root"
    done
    return 0
  fi

  echo "Installing: ${names[*]}"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --add-architecture i386
  apt_update || true
  declare -A apt_error=()
  if ! apt_install "${names[@]}"; then
    if ((${#missing[@]} == 1)); then
      apt_error[${missing[0]}]=$(apt_reason)
    else
      echo "Installing them together failed; trying one at a time." >&2
      for package in "${missing[@]}"; do
        present "$package" && continue
        echo "Installing $(debian_name "$package")"
        apt_install "$(debian_name "$package")" || apt_error[$package]=$(apt_reason)
      done
    fi
  fi
  for package in "${missing[@]}"; do
    present "$package" && continue
    not_installed[$package]=${apt_error[$package]:-"installed, yet '${probe[$package]}' fails"}
    echo "Could not install $(debian_name "$package")" >&2
  done
}

# --- Running the stages --------------------------------------------------------

declare -A result=() took=() why=()  # by stage: passed/failed/skipped, wall time, why skipped
stages=()                            # the stages in the order they ran

# join SEPARATOR ITEM...: the items with the separator between them.
join() {
  local separator=$1 joined=$2 item
  shift 2
  for item; do joined+=$separator$item; done
  echo "$joined"
}

# skip REASON: ends the running stage as skipped (in stage functions only).
skip() {
  local reason=$*
  echo "${reason%.}" >"$work/skip"
  exit 0
}

# needs_packages PACKAGE...: skips the running stage unless each package of
# the table is installed.
needs_packages() {
  local package absent=()
  for package; do
    [ -z "${not_installed[$package]+set}" ] || absent+=("$(debian_name "$package")")
  done
  ((${#absent[@]})) || return 0
  if ((can_install)); then
    skip "$(join ', ' "${absent[@]}") could not be installed"
  fi
  skip "$(join ', ' "${absent[@]}") not installed (installing needs root)"
}

# needs_stage STAGE: skips the running stage unless STAGE passed.
needs_stage() {
  case ${result[$1]:-} in
    passed) ;;
    skipped) skip "needs $1, which was skipped" ;;
    *) skip "needs $1, which ${result[$1]:-did not run}" ;;
  esac
}

duration() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# run_stage NAME FUNCTION TITLE: runs FUNCTION in a subshell that stops at its
# first failing command, and records whether the stage passed, failed or was
# skipped, and its wall time.
run_stage() {
  local name=$1 function=$2 title=$3 start status
  echo
  echo "== $name: $title"
  rm -f "$work/skip"
  start=$SECONDS
  # Inside a condition or a || list, set -e would be off in the subshell too.
  set +e
  (set -e; "$function")
  status=$?
  set -e
  took[$name]=$(duration $((SECONDS - start)))
  stages+=("$name")
  if [ -s "$work/skip" ]; then
    result[$name]=skipped
    why[$name]=$(<"$work/skip")
    echo "== $name: SKIPPED after ${took[$name]}: ${why[$name]}" >&2
  elif [ "$status" -eq 0 ]; then
    result[$name]=passed
    echo "== $name: passed in ${took[$name]}"
  else
    result[$name]=failed
    echo "== $name: FAILED (status $status) after ${took[$name]}" >&2
  fi
}

# --- The stages ------------------------------------------------------------------

win32=$root/build-win
win64=$root/build-win64
# What a Windows tree needs besides its MinGW: GoogleTest's sources, and clang,
# lld-link and llvm-dlltool for tarvelin.lib and the MSVC-ABI host.
windows_packages=(cmake googletest clang lld llvm)
# The native tests of what a user installs (tests/install), which need
# pkg-config, dpkg-dev, file and groff.
install_tests='^(install_consumers|deb_package|man_page)$'

# native-build proves that the library, the tool and the tests build natively
# (and the benchmarks, where Google Benchmark and OpenSSL are installed).
native_build() {
  needs_packages cmake g++ googletest
  cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DTARVELIN_BUILD_TESTS=ON >/dev/null
  cmake --build "$root/build" -j"$jobs"
}

# native-tests proves that the native suite passes: the library, the tool,
# the reliability and process tests, and the exports of libtarvelin.so.
native_tests() {
  needs_stage native-build
  ctest --test-dir "$root/build" --output-on-failure -j2 -E "$install_tests"
}

# native-install proves what a user installs works: hosts in C99, through
# pkg-config and through find_package built against an install; the .deb;
# the manual page.
native_install() {
  needs_stage native-build
  needs_packages pkg-config dpkg-dev file groff-base
  ctest --test-dir "$root/build" --output-on-failure -j2 --no-tests=error -R "$install_tests"
}

# fuzz proves that the libFuzzer harnesses replay their corpora and then run
# a minute each without a crash, a leak or undefined behaviour. fuzz.sh
# installs clang-14 and its fuzzer runtime, and exits 77 when it cannot.
fuzz() {
  needs_packages cmake
  local status=0
  bash "$root/tools/fuzz.sh" 60 2>&1 | tee "$work/fuzz.log" || status=$?
  [ "$status" -ne 77 ] || skip "$(tail -n 1 "$work/fuzz.log")"
  return "$status"
}

# sanitize proves that the native suite passes with AddressSanitizer and
# UndefinedBehaviorSanitizer checking every access and operation.
sanitize() {
  needs_packages cmake g++ googletest
  cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVELIN_SANITIZE=address,undefined -DTARVELIN_BUILD_BENCH=OFF >/dev/null
  cmake --build "$root/build-sanitize" -j"$jobs"
  # The multi-GiB round trips ran above; here they would only repeat the same
  # code paths slowly.
  GTEST_FILTER='-*Slow*' ctest --test-dir "$root/build-sanitize" --output-on-failure -j2
}

# windows-32bit-build proves that the 32-bit DLL, tool, MSVC-ABI host and
# test programs build, and, reading the DLL itself (no Wine), that it is PE32
# for i386, exports exactly the library's surface and imports only DLLs that
# every Windows has.
windows_32bit_build() {
  needs_packages "${windows_packages[@]}" g++-mingw-w64-i686 binutils-mingw-w64-i686
  cmake -S "$root" -B "$win32" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
    -DTARVELIN_NATIVE_BUILD="$root/build" -DTARVELIN_WIN64_BUILD="$win64" >/dev/null
  cmake --build "$win32" -j"$jobs"
  ctest --test-dir "$win32" --output-on-failure --no-tests=error -R '^exports$'
}

# windows-64bit-build proves the same of the 64-bit build: PE32+ for x86-64,
# the class members under MSVC's x86-64 names.
windows_64bit_build() {
  needs_packages "${windows_packages[@]}" g++-mingw-w64-x86-64
  cmake -S "$root" -B "$win64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/x86_64-w64-mingw32.cmake" \
    -DTARVELIN_NATIVE_BUILD="$root/build" >/dev/null
  cmake --build "$win64" -j"$jobs"
  ctest --test-dir "$win64" --output-on-failure --no-tests=error -R '^exports$'
}

# windows-zip proves that the zip, made in the 32-bit tree with the 64-bit
# DLL beside the 32-bit one, holds what a user needs and nothing of the
# build's own, each DLL with its architecture's exports (no Wine).
windows_zip() {
  needs_stage windows-32bit-build
  needs_stage windows-64bit-build
  ctest --test-dir "$win32" --output-on-failure --no-tests=error -R '^windows_zip$'
}

# windows-32bit-wine proves, under Wine, that the 32-bit DLL passes the suite
# on the real Win32 API, loads as a host loads it, serves the MSVC-ABI host,
# that tarvelin.exe does what the native tool does, and that pieces cut by
# libtarvelin.so join through the DLL, and the reverse.
windows_32bit_wine() {
  needs_stage windows-32bit-build
  needs_stage native-build
  needs_packages wine wine32
  # Wine runs the 32-bit DLL in a 32-bit process. Some virtual machines'
  # kernels refuse those; there they are emulated (slowly) if this runs as
  # root, and where even that is not possible the stage is skipped.
  local status=0
  bash "$root/tools/ensure-32bit.sh" 2>&1 | tee "$work/ensure-32bit.log" || status=$?
  [ "$status" -eq 0 ] || skip "cannot run 32-bit programs: $(tail -n 1 "$work/ensure-32bit.log")"
  ctest --test-dir "$win32" --output-on-failure -j2 -E '^(exports|windows_zip)$'
}

# windows-64bit-wine proves the same of the 64-bit DLL and tool under 64-bit
# Wine. 64-bit programs run natively even where 32-bit ones are emulated.
windows_64bit_wine() {
  needs_stage windows-64bit-build
  needs_stage native-build
  needs_packages wine wine64
  ctest --test-dir "$win64" --output-on-failure -j2 -E '^exports$'
}

# --- The summary -----------------------------------------------------------------

# summary: each stage's result and wall time, the packages that could not be
# installed, and the closing line. Fails when a stage failed or none passed.
summary() {
  local name package passed=0 failed=() skipped=() line
  echo
  echo "== Summary"
  for name in "${stages[@]}"; do
    printf '  %-20s %-8s %s\n' "$name" "${result[$name]}" "${took[$name]}"
    case ${result[$name]} in
      passed) passed=$((passed + 1)) ;;
      failed) failed+=("$name") ;;
      skipped) skipped+=("$name: ${why[$name]}") ;;
    esac
  done
  for package in $(printf '%s\n' "${!not_installed[@]}" | sort); do
    echo "  not installed: $(debian_name "$package"):"
    printf '%s\n' "${not_installed[$package]}" | sed 's/^/    /'
  done
  if ((${#skipped[@]})); then
    echo "!! ${#skipped[@]} stage(s) SKIPPED: they proved nothing, and do not count as passed."
    if ((passed == 0)); then
      echo "!! No stage passed: the run proved nothing, so it fails."
    elif ((${#failed[@]} == 0)); then
      echo "!! The exit status is 0 only because no stage that ran failed."
    fi
  fi
  line="test-all: $passed passed, ${#failed[@]} failed, ${#skipped[@]} skipped"
  if ((${#failed[@]})); then
    line+=" (failed: $(join ', ' "${failed[@]}"))"
  fi
  if ((${#skipped[@]})); then
    line+=" (skipped: $(join '; ' "${skipped[@]}"))"
  fi
  echo "$line"
  ((${#failed[@]} == 0 && passed > 0))
}

install_missing
run_stage native-build native_build "native build"
run_stage native-tests native_tests "native tests"
run_stage native-install native_install "native tests of the install, the .deb and the manual page"
run_stage fuzz fuzz "fuzzing: replay the corpora, then a minute of each harness"
run_stage sanitize sanitize "native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
run_stage windows-32bit-build windows_32bit_build "32-bit Windows build, and the DLL's exports"
run_stage windows-64bit-build windows_64bit_build "64-bit Windows build, and the DLL's exports"
run_stage windows-zip windows_zip "the Windows zip with both DLLs"
run_stage windows-32bit-wine windows_32bit_wine "32-bit Windows tests under Wine"
run_stage windows-64bit-wine windows_64bit_wine "64-bit Windows tests under Wine"
summary || exit 1
