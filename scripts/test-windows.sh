#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The Windows half of the test command: installs what the cross build and its Wine runs need when
# any of it is missing (the i386 architecture, wine, wine32:i386, g++-mingw-w64-i686-posix, the
# GoogleTest sources), then configures, builds and tests the `win32` preset: the four deliverables
# in build/win32/bin and the test programs, each run once under Wine in a private 32-bit prefix.
# test.sh calls it after the Linux run; it also runs alone.
#
# Every Wine run is judged by its output (GoogleTest's summary), and the run as a whole by CTest's
# summary line, never by an exit code alone: a 64-bit-only Wine (wine32 missing) starts 32-bit
# programs in a broken mode and may still exit 0. Such a Wine is refused here before any test.
# apt-get runs through sudo when you are not root.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "test-windows: as root run: $*" >&2
      exit 1
    fi
    sudo="sudo"
  fi
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

packages=(wine wine32:i386 g++-mingw-w64-i686-posix googletest cmake ninja-build)
missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "test-windows: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_root "dpkg --add-architecture i386 && apt-get update && apt-get install ${missing[*]}"
    $sudo dpkg --add-architecture i386
  fi
  need_root "apt-get update && apt-get install ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The 32-bit loader is what wine32 brings; without it `wine` falls back to wine64, which cannot
# give the tests a 32-bit prefix.
if ! installed wine32:i386 || [ ! -x /usr/lib/wine/wine ]; then
  echo "test-windows: FAILED: wine32 (the 32-bit Wine loader) is missing; a 64-bit-only Wine" \
    "cannot run the 32-bit Windows tests" >&2
  exit 1
fi

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
