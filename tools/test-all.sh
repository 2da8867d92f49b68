#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: the native suite (with the install, the .deb and
# the hosts built against them), the same suite under ASan and UBSan, and the
# Windows DLLs' suites under Wine, 32-bit and 64-bit (with tarvelin.exe, the
# MSVC-ABI host and the zip). Installs what is missing first (as root through
# apt-get; otherwise it says what to install).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

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
)
missing=()
for package in "${!probe[@]}"; do
  bash -c "${probe[$package]}" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Run as root, or install these Debian packages first: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  dpkg --add-architecture i386
  apt-get update -qq
  packages=()
  for package in "${missing[@]}"; do
    [ "$package" = wine32 ] && packages+=("wine32:i386") || packages+=("$package")
  done
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi

echo "== Native build and tests"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DTARVELIN_BUILD_TESTS=ON >/dev/null
cmake --build "$root/build" -j"$jobs"
ctest --test-dir "$root/build" --output-on-failure -j2

echo "== Fuzzing: replay the corpora, then a minute of each harness"
bash "$root/tools/fuzz.sh" 60

echo "== Native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVELIN_SANITIZE=address,undefined -DTARVELIN_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-sanitize" -j"$jobs"
# The multi-GiB round trips ran above; here they would only repeat the same
# code paths slowly.
GTEST_FILTER='-*Slow*' ctest --test-dir "$root/build-sanitize" --output-on-failure -j2

echo "== Windows DLLs, 32-bit and 64-bit, and their tests under Wine"
cmake -S "$root" -B "$root/build-win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
  -DTARVELIN_NATIVE_BUILD="$root/build" -DTARVELIN_WIN64_BUILD="$root/build-win64" >/dev/null
cmake -S "$root" -B "$root/build-win64" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/x86_64-w64-mingw32.cmake" \
  -DTARVELIN_NATIVE_BUILD="$root/build" >/dev/null
cmake --build "$root/build-win" -j"$jobs"
cmake --build "$root/build-win64" -j"$jobs"
# Wine runs the 32-bit DLL in a 32-bit process. Some virtual machines' kernels
# refuse those; there they are emulated (slowly) if this runs as root.
if ! bash "$root/tools/ensure-32bit.sh"; then
  echo "Wine cannot run the DLL's tests on this machine; they are built." >&2
  exit 1
fi
ctest --test-dir "$root/build-win" --output-on-failure -j2
# 64-bit programs run natively even where 32-bit ones are emulated.
ctest --test-dir "$root/build-win64" --output-on-failure -j2
