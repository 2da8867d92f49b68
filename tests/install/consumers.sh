#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs a build into a scratch prefix and builds hosts against what was
# installed, nothing of the source tree: a C99 program compiled with gcc and
# -pedantic, the same program as C++98 built with only what pkg-config says,
# and a CMake project that finds the package, each of which round-trips a
# file through the installed libtarvelin.so; and a C99 program of the
# library's own functions (public_api.c).
#
# usage: consumers.sh BUILD_FOLDER LIBDIR VERSION
#   LIBDIR   the library folder under the prefix (CMAKE_INSTALL_LIBDIR)
#   VERSION  the project's version, which tarvelin_version() must give
set -euo pipefail
build=$1
libdir=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-consumers.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
export LD_LIBRARY_PATH=$prefix/$libdir

run() {  # run NAME PROGRAM [ARGUMENT...]: runs it on a folder of its own
  mkdir "$work/in-$1"
  "$2" "$work/in-$1" "${@:3}" || { echo "FAILED: the $1 host" >&2; exit 1; }
  echo "ok: the $1 host"
}

c99() {  # c99 SOURCE OUTPUT
  gcc -std=c99 -Wall -Wextra -Werror -pedantic -I"$prefix/include" "$1" \
    -L"$prefix/$libdir" -ltarvelin -o "$2"
}
c99 "$here/round_trip.c" "$work/c99"
run c99 "$work/c99"
c99 "$here/public_api.c" "$work/public_api"
run public_api "$work/public_api" "$version"

export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046  # pkg-config's words are meant to split
g++ -x c++ -std=c++98 -Wall -Wextra -Werror -pedantic $(pkg-config --cflags tarvelin) \
  "$here/round_trip.c" -x none $(pkg-config --libs tarvelin) -o "$work/cxx98"
run pkg-config "$work/cxx98"

cmake -S "$here/cmake_consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake-build" >/dev/null
run find_package "$work/cmake-build/round_trip"
