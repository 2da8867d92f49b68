#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes sure this machine can run 32-bit Linux programs, which Wine needs to
# run the 32-bit DLL. Exits 0 when it can, 1 (with the reason) when it cannot.
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

missing=()
command -v qemu-i386-static >/dev/null 2>&1 || missing+=(qemu-user-static)
test -e /usr/lib/wine/wine64 || missing+=(wine64)
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
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
