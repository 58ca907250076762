#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The private 32-bit Wine prefix of the Windows tests, named by WINEPREFIX.
#   setup: creates it when missing (headless: no display, no Mono/Gecko prompts, no menu
#          entries, no crash dialog; Windows 2000 as the version Wine reports), starts its wineserver to stay and lets wineboot finish, so
#          that no background process of Wine holds the output of a test run open;
#   stop:  stops its wineserver and everything running in it.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX names the private prefix}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

case "${1:-}" in
  setup)
    mkdir -p "$WINEPREFIX"
    log="$WINEPREFIX/setup.log"
    {
      wineserver -p
      wineboot -i
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
      # Wine 8 says it is Windows 7 (6.1), which the library refuses; the programs see Windows
      # 2000 instead. A test of other versions sets them for its own program only (AppDefaults).
      wine reg add 'HKCU\Software\Wine' /v Version /d win2k /f
    } </dev/null >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
    # A 64-bit-only Wine runs 32-bit programs in a broken mode; insist on a 32-bit prefix.
    if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ] ||
       [ -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
      echo "wine-prefix: $WINEPREFIX is not a working 32-bit prefix (see $log)" >&2
      exit 1
    fi
    echo "wine-prefix: ready at $WINEPREFIX"
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    echo "wine-prefix: stopped"
    ;;
  *)
    echo "usage: WINEPREFIX=<folder> $0 setup|stop" >&2
    exit 2
    ;;
esac
