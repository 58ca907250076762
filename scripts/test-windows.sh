#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The Windows half of the test command: installs what the cross build and its Wine runs need when
# any of it is missing (install-windows-deps.sh: the i386 architecture, wine, wine32:i386,
# g++-mingw-w64-i686-posix, the GoogleTest sources), then configures, builds and tests the
# `win32` preset: the four deliverables in build/win32/bin and the test programs, each run once
# under Wine in a private 32-bit prefix, and the end-to-end runs of the deliverables over the
# simulator's winscard.dll (build/win32/e2e).
# test.sh calls it after the Linux run; it also runs alone.
#
# Every Wine run is judged by its output (GoogleTest's summary), and the run as a whole by CTest's
# summary line, never by an exit code alone: a 64-bit-only Wine (wine32 missing) starts 32-bit
# programs in a broken mode and may still exit 0. Such a Wine is refused before any test.
# apt-get runs through sudo when you are not root.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-windows-deps.sh

cmake --preset win32
cmake --build --preset win32

log=build/win32/ctest.log
status=0
ctest --preset win32 --parallel "$(nproc)" 2>&1 | tee "$log" || status=$?
if [ "$status" -ne 0 ] || ! grep -Eq '^100% tests passed, 0 tests failed out of [1-9]' "$log"; then
  echo "test-windows: FAILED (exit code $status; see $log)" >&2
  exit 1
fi
echo "test-windows: passed"
