#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs what the Windows cross build and its Wine runs need when any of it is missing: the
# i386 architecture, wine, wine32:i386, g++-mingw-w64-i686-posix, the GoogleTest sources, cmake
# and ninja (about 90 s on a fresh machine). Then refuses a Wine without its 32-bit loader
# (wine32): a 64-bit-only Wine starts 32-bit programs in a broken mode and may still exit 0.
# test-windows.sh and demo-windows.sh call it. apt-get runs through sudo when you are not root.
set -euo pipefail

sudo=""
need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "install-windows-deps: as root run: $*" >&2
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
  echo "install-windows-deps: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_root "dpkg --add-architecture i386 && apt-get update && apt-get install ${missing[*]}"
    $sudo dpkg --add-architecture i386
  fi
  need_root "apt-get update && apt-get install ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The 32-bit loader is what wine32 brings; without it `wine` falls back to wine64, which cannot
# give the programs a 32-bit prefix.
if ! installed wine32:i386 || [ ! -x /usr/lib/wine/wine ]; then
  echo "install-windows-deps: FAILED: wine32 (the 32-bit Wine loader) is missing; a" \
    "64-bit-only Wine cannot run the 32-bit Windows programs" >&2
  exit 1
fi
