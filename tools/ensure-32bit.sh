#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes sure this machine can run 32-bit Linux programs, which Wine needs to
# run the 32-bit DLL. Exits 0 when it can, 1 when it cannot, with the reason
# on its last line (also when what it needs cannot be installed).
#
# Some virtual machines' kernels are built without 32-bit support. There the
# i386 code is run by QEMU's user-mode emulator, registered with the kernel's
# binfmt_misc so that every 32-bit program Wine starts goes through it. This
# needs root. It also installs the 64-bit Wine, so that Wine's own service
# programs run natively and only the test programs are emulated. Emulation
# is slow: each Wine program spends most of a minute starting.
set -euo pipefail

runs_32bit() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

runs_32bit && exit 0

echo "This machine's kernel does not run 32-bit programs; emulating them with QEMU."
if [ "$(id -u)" -ne 0 ]; then
  echo "Emulating 32-bit programs needs root (to install qemu-user-static and wine64" >&2
  echo "and to register QEMU with binfmt_misc). Run this as root." >&2
  exit 1
fi

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

missing_packages() {
  command -v qemu-i386-static >/dev/null 2>&1 || echo qemu-user-static
  test -e /usr/lib/wine/wine64 || echo wine64
}
mapfile -t missing < <(missing_packages)
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt_log=$(mktemp "${TMPDIR:-/tmp}/tarvelin-ensure-32bit-apt.XXXXXX")
  trap 'rm -f "$apt_log"' EXIT
  apt_update || true
  if ! apt-get install -y -q --no-install-recommends "${missing[@]}" >"$apt_log" 2>&1; then
    echo "apt-get install failed:" >&2
    tail -n 6 "$apt_log" | sed 's/^/  /' >&2
  fi
  mapfile -t missing < <(missing_packages)
  if ((${#missing[@]})); then
    echo "${missing[*]} could not be installed, so 32-bit programs cannot be emulated." >&2
    exit 1
  fi
fi

binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
fi
if [ ! -e "$binfmt/register" ]; then
  echo "binfmt_misc is not available here, so 32-bit programs cannot be emulated." >&2
  exit 1
fi
if [ ! -e "$binfmt/qemu-i386" ]; then
  # ELF, 32-bit, little-endian, executable or shared object, machine i386.
  # F: the kernel opens QEMU now, so it works inside any later mount namespace.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':qemu-i386:M::%s:%s:%s:F\n' "$magic" "$mask" "$(command -v qemu-i386-static)" \
    >"$binfmt/register"
fi

if ! runs_32bit; then
  echo "32-bit programs still do not run, even through QEMU." >&2
  exit 1
fi
echo "32-bit programs now run through QEMU."
