#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Windows zip with CPack (in the 32-bit Windows build, which pulls
# in the 64-bit one) and checks it as a user unpacks it: README and LICENSE
# at the top; in x86/ and x64/ the DLL, its two import libraries, the header
# and the tool; each DLL of its own architecture with exactly the library's
# exports after packaging; nothing of the build's own (test programs).
#
# usage: windows_zip.sh BUILD_FOLDER VERSION OBJDUMP_I686 OBJDUMP_X86_64
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
objdump32=$3
objdump64=$4
here=$(cd "$(dirname "$0")" && pwd)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -f "$build/packages/"*.zip
(cd "$build" && cpack -G ZIP >/dev/null)
zip=$build/packages/tarvelin-$version-windows.zip
[[ -f $zip ]] || { echo "FAIL: no $zip:"; ls "$build/packages"; exit 1; }
echo "$(basename "$zip"): $(stat -c %s "$zip") bytes"

unpacked=$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-zip.XXXXXX")
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$zip")
top=$unpacked/tarvelin-$version-windows
contents=$(cd "$top" && find . -type f | sort)
echo "Contents:"
(cd "$top" && find . -type f -printf '  %-45p %s\n' | sort)

wanted=(./README.md ./LICENSE ./doc/library.md ./doc/tool.md)
for arch in x86 x64; do
  wanted+=("./$arch/bin/tarvelin.dll" "./$arch/bin/tarvelin.exe" "./$arch/lib/tarvelin.lib"
           "./$arch/lib/libtarvelin.dll.a" "./$arch/include/tarvelin/tarvelin.h"
           "./$arch/lib/cmake/Tarvelin/TarvelinConfig.cmake" "./$arch/lib/pkgconfig/tarvelin.pc")
done
for file in "${wanted[@]}"; do
  grep -qxF -- "$file" <<<"$contents" || fail "missing $file"
done
unwanted=$(grep -E '_test|test_|gtest|host|CMakeFiles|\.obj$' <<<"$contents" || true)
[[ -z $unwanted ]] || fail "files of the build: $unwanted"

bash "$here/../check_exports.sh" pe "$objdump32" "$top/x86/bin/tarvelin.dll" >"$unpacked/x86.txt" ||
  fail "x86/bin/tarvelin.dll: $(grep FAIL "$unpacked/x86.txt")"
bash "$here/../check_exports.sh" pe64 "$objdump64" "$top/x64/bin/tarvelin.dll" >"$unpacked/x64.txt" ||
  fail "x64/bin/tarvelin.dll: $(grep FAIL "$unpacked/x64.txt")"

((failures == 0)) || { echo "$failures problem(s) in $(basename "$zip")"; exit 1; }
echo "OK: $(basename "$zip")"
