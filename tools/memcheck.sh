#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the native test programs that work in one process under valgrind's
# memcheck: any invalid access, use of an unwritten byte or leak fails the
# program. The tests that kill processes, mount file systems or cut 4 GiB
# files are left out (they would take hours under valgrind and test the same
# code as the ones here).
#
#   tools/memcheck.sh [BUILD_FOLDER]     (default: build, configured and built if needed)
#
# Prints one line per program and exits 1 if any of them failed; each
# program's output is in BUILD_FOLDER/memcheck/<program>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 2; }
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >/dev/null

# Threads that block in F_OFD_SETLKW keep valgrind's scheduler lock, so the
# one test that has threads contend for a profile's lock stalls under it.
export GTEST_FILTER="-*Slow*:ProfileTest.ThreadsWritingOneFileLoseNothing"
# glibc's vectorised wmemcmp reads whole vectors past the end of a string,
# which valgrind takes for invalid reads; the plain version is used instead.
export GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-AVX512F,-AVX512BW,-AVX512VL,-EVEX

programs=(
  digest/md5_test digest/fingerprint_test
  platform/ini_document_test platform/path_rules_test platform/utf8_test
  platform/shared_open_test platform/file_ops_test platform/fd_io_test platform/profile_test
  library/naming_test library/file_helpers_test library/split_test library/split_faults_test
  library/merge_test library/merge_faults_test
  cli/cli_parts_test cli/verify_test cli/failure_words_test
  reliability/invariant_r_test reliability/power_loss_test reliability/simulated_disk_test
  reliability/call_order_test reliability/handles_test reliability/existing_file_test
)
mkdir -p "$build/memcheck"
status=0
for program in "${programs[@]}"; do
  log="$build/memcheck/$(basename "$program").log"
  start=$SECONDS
  if valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
      "$build/tests/$program" >"$log" 2>&1; then
    echo "$program: clean ($((SECONDS - start)) s)"
  else
    echo "$program: FAILED, see $log ($((SECONDS - start)) s)"
    status=1
  fi
done
exit $status
