#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package with CPack and checks it as a user meets it: the
# file name, dependencies that dpkg-shlibdeps found, the files a user and a
# host's build need, none of the build's own (test programs, static archives,
# paths of the build machine), and the tool running from the unpacked tree.
#
# usage: deb_package.sh BUILD_FOLDER SOURCE_FOLDER VERSION LIBDIR
#   LIBDIR  the library folder under the prefix (CMAKE_INSTALL_LIBDIR)
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3
lib=./usr/$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -f "$build/packages/"*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$build/packages/tarvelin_${version}_amd64.deb
[[ -f $deb ]] || { echo "FAIL: no $deb:"; ls "$build/packages"; exit 1; }
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ $depends == *libc6* ]] || fail "Depends does not name libc6: dpkg-shlibdeps did not run"

# "./usr/bin/tarvelin" or "./usr/lib/libtarvelin.so.0 -> libtarvelin.so.0.2.0"
contents=$(dpkg-deb -c "$deb" | sed -E 's/^([^ ]+ +){5}//')
echo "Contents:"
sed 's/^/  /' <<<"$contents"
soname=libtarvelin.so.${version%%.*}
for wanted in ./usr/bin/tarvelin "$lib/$soname -> libtarvelin.so.$version" \
  "$lib/libtarvelin.so -> $soname" ./usr/include/tarvelin/tarvelin.h \
  "$lib/cmake/Tarvelin/TarvelinConfig.cmake" "$lib/cmake/Tarvelin/TarvelinConfigVersion.cmake" \
  "$lib/pkgconfig/tarvelin.pc" ./usr/share/man/man1/tarvelin.1 \
  ./usr/share/doc/tarvelin/copyright ./usr/share/doc/tarvelin/doc/library.md; do
  grep -qxF -- "$wanted" <<<"$contents" || fail "missing $wanted"
done
unwanted=$(grep -E '_test|test_|gtest|bench|fuzz|\.a$|/_CPack|CMakeFiles' <<<"$contents" || true)
[[ -z $unwanted ]] || fail "files of the build: $unwanted"
[[ $(grep -c '^\./usr/bin/.' <<<"$contents") -eq 1 ]] || fail "usr/bin holds more than the tool"

unpacked=$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-deb.XXXXXX")
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for path in "$build" "$source"; do
  leaks=$(grep -rlF -- "$path" "$unpacked" || true)
  [[ -z $leaks ]] || fail "the build path $path appears in: ${leaks//$unpacked/}"
done

printed=$("$unpacked/usr/bin/tarvelin" --version) || fail "the unpacked tarvelin --version failed"
[[ $printed == "tarvelin $version" ]] || fail "tarvelin --version printed '$printed'"
echo "unpacked tarvelin --version: $printed"

((failures == 0)) || { echo "$failures problem(s) in $(basename "$deb")"; exit 1; }
echo "OK: $(basename "$deb")"
