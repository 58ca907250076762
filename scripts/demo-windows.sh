#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The main job on Windows, under Wine: the same kind of CT-API session as scripts/demo.sh, through
# the cross-built CTKORVIN.dll on virtual readers, printed as a transcript. The readers and cards
# are those of tests/data/world.txt (a processor card, a 2-wire memory card, a health insurance
# card, a PIN pad), played by the reader simulator built as winscard.dll. ctapi-client.exe loads
# CTKORVIN.dll by name and finds its calls by ordinal, as applications do; then inisync.exe -N
# records the readers in C:\windows\vezidide.ini, which is printed. It installs what it needs
# (install-windows-deps.sh), builds the win32 preset's deliverables and sets up a private
# headless Wine prefix (build/win32/demo-prefix), whose wineserver it stops at the end.
#
#   scripts/demo-windows.sh     (also: scripts/demo.sh --windows)
#
# Exit status: 0 when the session's checks passed and inisync.exe ended with 0, 1 otherwise.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
e2e="$root/build/win32/e2e"
world="$root/tests/data/world.txt"

heading() {
  printf '\n== %s\n' "$*"
}

main() {
  cd "$root"
  if [ $# -ne 0 ]; then
    sed -n '12p' "$0" | sed 's/^# *//' >&2
    return 2
  fi
  bash scripts/install-windows-deps.sh
  local log="$root/build/demo-windows-build.log"
  mkdir -p "$root/build"
  echo "Building CTKORVIN.dll, memlink.dll, pinlink.dll, inisync.exe, the simulator's winscard.dll"
  echo "and ctapi-client.exe (log: build/demo-windows-build.log)"
  if ! { cmake --preset win32 && cmake --build --preset win32 --target kv_e2e_folder; } \
    >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "demo-windows: the build failed; the whole log is $log" >&2
    return 1
  fi

  export WINEPREFIX="$root/build/win32/demo-prefix"
  echo "Setting up the private Wine prefix $WINEPREFIX"
  bash scripts/wine-prefix.sh setup >/dev/null
  trap 'bash "$root/scripts/wine-prefix.sh" stop >/dev/null' EXIT
  export WINEDLLOVERRIDES="winscard=n"
  KV_SIM_WORLD="$(bash scripts/wine-run.sh winepath -w "$world" | tr -d '\r')"
  export KV_SIM_WORLD

  local failures=0 status=0
  heading "The machine: tests/data/world.txt, read by the simulator's winscard.dll"
  grep -v '^#' "$world"
  printf '$ cd %s\n' "$e2e"
  printf '$ WINEDLLOVERRIDES=winscard=n KV_SIM_WORLD=%s wine ctapi-client.exe\n' "$KV_SIM_WORLD"
  bash scripts/wine-run.sh "$e2e/ctapi-client.exe" session | tr -d '\r' || failures=$((failures + 1))

  heading "Two processes, one terminal table (the second is ctapi-client.exe started again)"
  printf '$ wine ctapi-client.exe shared-table\n'
  bash scripts/wine-run.sh "$e2e/ctapi-client.exe" shared-table | tr -d '\r' ||
    failures=$((failures + 1))

  heading "inisync.exe -N: the readers that answer, recorded in C:\\windows\\vezidide.ini"
  local ini="$WINEPREFIX/drive_c/windows/vezidide.ini"
  rm -f "$ini"
  printf '$ wine inisync.exe -N\n'
  bash scripts/wine-run.sh "$e2e/inisync.exe" -N || status=$?
  printf '(exit code %d; inisync.exe has no window and prints nothing)\n' "$status"
  ((status == 0)) || failures=$((failures + 1))
  printf '$ type C:\\windows\\vezidide.ini\n'
  tr -d '\r' <"$ini" || failures=$((failures + 1))

  if ((failures)); then
    heading "$failures step(s) failed"
    return 1
  fi
  heading "Done: every check of the session passed and inisync.exe ended with 0"
}

main "$@"
