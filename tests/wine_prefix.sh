#!/bin/bash
# SPDX-License-Identifier: MIT
# Prepares the Wine session that the Windows tests run in:
#   wine_prefix.sh <wine> <wineserver>   (WINEPREFIX names the prefix)
#
# The first run creates the prefix, which takes some seconds. Every run then
# starts a wineserver that stays up for 30 seconds after its last program
# ends, together with Wine's own service processes. Those are started here
# with their output sent to a log: a service started by a test program would
# inherit the test's output and keep CTest waiting for it until the server
# shut down, about 3 seconds after every test.
set -u -o pipefail

wine=${1:?wine}
wineserver=${2:?wineserver}
: "${WINEPREFIX:?WINEPREFIX names the prefix}"

log="${WINEPREFIX%/}.log"
# A prefix made by the 32-bit-only Wine cannot be used once the 64-bit Wine
# is installed (and the reverse); the prefix is only scratch, so remake it.
if [ -f "$WINEPREFIX/system.reg" ]; then
  made_for=$(grep -m1 -o '^#arch=win[0-9]*' "$WINEPREFIX/system.reg" || true)
  wants=win32
  [ -e /usr/lib/wine/wine64 ] && wants=win64
  [ "$made_for" = "#arch=$wants" ] || rm -rf "$WINEPREFIX"
fi
mkdir -p "$WINEPREFIX"
: >"$log"

# Fails harmlessly when a server for this prefix is already running.
"$wineserver" -p30 </dev/null >>"$log" 2>&1

if ! "$wine" cmd /c exit 0 </dev/null >>"$log" 2>&1; then
  echo "Wine could not start a program in $WINEPREFIX:"
  cat "$log"
  exit 1
fi
echo "Wine is ready in $WINEPREFIX"
