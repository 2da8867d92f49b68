#!/bin/bash
# SPDX-License-Identifier: MIT
# Checks that a built shared library exposes exactly Tarvelin's surface.
#
#   check_exports.sh elf <nm> libtarvelin.so
#     The dynamic symbol table defines SplitBigWIM, MergeIntoWIM, the
#     library's own tarvelin_ functions and the members of CTarvelin, and
#     nothing else.
#   check_exports.sh pe <objdump> tarvelin.dll
#     The DLL is PE32 for i386; its export table holds exactly SplitBigWIM,
#     MergeIntoWIM, the tarvelin_ functions with their _w forms, and MSVC's
#     names of the constructor and the assignment; it
#     imports only DLLs that every Windows has, so it carries its runtime.
#   check_exports.sh pe64 <objdump> tarvelin.dll
#     The same for the 64-bit DLL: PE32+ for x86-64, the members under MSVC's
#     x86-64 names.
#
# Prints what it found, and every difference; exits non-zero on any.
set -u -o pipefail

kind=${1:?kind: elf or pe}
tool=${2:?nm or objdump}
library=${3:?library file}
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# compare_sets <what> <expected, one a line> <found, one a line> [<optional>]
compare_sets() {
  local what=$1 expected=$2 found=$3 optional=${4:-}
  local name
  while IFS= read -r name; do
    [[ -z $name ]] && continue
    grep -qxF -- "$name" <<<"$found" || fail "$what: missing $name"
  done <<<"$expected"
  while IFS= read -r name; do
    [[ -z $name ]] && continue
    grep -qxF -- "$name" <<<"$expected" && continue
    [[ -n $optional ]] && grep -qxF -- "$name" <<<"$optional" && continue
    fail "$what: unexpected $name"
  done <<<"$found"
}

[[ -f $library ]] || { echo "FAIL: no such file: $library"; exit 1; }

functions=$'SplitBigWIM\nMergeIntoWIM\ntarvelin_split\ntarvelin_merge\ntarvelin_verify\ntarvelin_cat
tarvelin_fingerprint\ntarvelin_fingerprint_stream\ntarvelin_manifest_name\ntarvelin_piece_name
tarvelin_code_name\ntarvelin_version'
wide_functions=$'tarvelin_split_w\ntarvelin_merge_w\ntarvelin_verify_w\ntarvelin_cat_w\ntarvelin_fingerprint_w'

case $kind in
  elf)
    # nm prints "address type name"; keep the names of defined symbols.
    symbols=$("$tool" -D --defined-only "$library" | awk 'NF >= 3 { print $3 }' | sort -u) ||
      { echo "FAIL: $tool could not read $library"; exit 1; }
    echo "Dynamic symbols defined by $library:"
    sed 's/^/  /' <<<"$symbols"
    expected="$functions"$'\n_ZN9CTarvelinC1Ev\n_ZN9CTarvelinaSERKS_'
    # The base-object constructor exists whenever the complete-object one does,
    # but some compilers fold it away.
    compare_sets "exports" "$expected" "$symbols" "_ZN9CTarvelinC2Ev"
    ;;
  pe | pe64)
    if [[ $kind == pe ]]; then
      format=pei-i386 magic='010b[[:space:]]+\(PE32\)' magic_name=PE32 architecture=i386
      expected="$functions"$'\n'"$wide_functions"$'\n??0CTarvelin@@QAE@XZ\n??4CTarvelin@@QAEAAV0@ABV0@@Z'
    else
      format=pei-x86-64 magic='020b[[:space:]]+\(PE32\+\)' magic_name=PE32+ architecture=i386:x86-64
      expected="$functions"$'\n'"$wide_functions"$'\n??0CTarvelin@@QEAA@XZ\n??4CTarvelin@@QEAAAEAV0@AEBV0@@Z'
    fi
    headers=$("$tool" -f "$library") || { echo "FAIL: $tool could not read $library"; exit 1; }
    private=$("$tool" -p "$library") || { echo "FAIL: $tool could not read $library"; exit 1; }
    grep -q "file format $format\$" <<<"$headers" || fail "not $format: $(grep -o 'file format.*' <<<"$headers")"
    grep -Eq "^Magic[[:space:]]+$magic" <<<"$private" || fail "not $magic_name"
    grep -Eq "^architecture: $architecture(,|\$)" <<<"$headers" || fail "not $architecture"

    # The names follow "[Ordinal/Name Pointer] Table" up to the blank line.
    exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
                   inside && NF == 0 { inside = 0 }
                   inside { sub(/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]*/, ""); print }' \
              <<<"$private" | sort -u)
    imports=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$private" | sort -u)
    echo "Exports of $library:"
    sed 's/^/  /' <<<"$exports"
    echo "DLLs it imports:"
    sed 's/^/  /' <<<"$imports"

    compare_sets "exports" "$expected" "$exports"

    # Parts of Windows itself; a MinGW runtime DLL (libstdc++-6, libgcc_s,
    # libwinpthread) would have to travel with the DLL, so none may appear.
    while IFS= read -r dll; do
      [[ -z $dll ]] && continue
      case ${dll,,} in
        kernel32.dll | user32.dll | shlwapi.dll | advapi32.dll | msvcrt.dll | ucrtbase.dll | \
          api-ms-win-*.dll) ;;
        *) fail "imports a DLL that is not part of Windows: $dll" ;;
      esac
    done <<<"$imports"
    grep -qix 'kernel32.dll' <<<"$imports" || fail "imports no KERNEL32.dll: import table unreadable?"
    ;;
  *)
    echo "unknown kind: $kind (elf, pe or pe64)"
    exit 2
    ;;
esac

if ((failures > 0)); then
  echo "$failures problem(s) in $library"
  exit 1
fi
echo "OK: $library exposes exactly the library's surface"
