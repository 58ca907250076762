#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine, headless, in the private 32-bit prefix that
# WINEPREFIX names (set up by wine-prefix.sh). CMake uses it as the emulator of the Windows
# build's test programs.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX names the private prefix (scripts/wine-prefix.sh setup)}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
exec wine "$@"
