#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Runs a cross-built Windows program under Wine, headless, in the private 32-bit prefix that
# WINEPREFIX names (set up by wine-prefix.sh). CMake uses it as the emulator of the Windows
# build's test programs. A program that ends with another exit code than 0 leaves a line saying so
# in the output, so that a verdict taken from the output sees it too.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX names the private prefix (scripts/wine-prefix.sh setup)}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
status=0
wine "$@" || status=$?
if [ "$status" -ne 0 ]; then
  echo "wine-run: $1 ended with exit code $status"
fi
exit "$status"
