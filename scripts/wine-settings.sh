#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Checks, in the Wine prefix that WINEPREFIX names, what the CT-API library makes of the system's
# own settings: the version Wine reports (HKCU\Software\Wine, Version) gives the system class
# (win2k and winxp 50, nt40 40, win98 98; win7 refused by CT_init), and the registry switch
# SinglePort (a REG_DWORD under HKLM\System\CurrentControlSet\Control\Kelvane\CT-API) turns the
# single-port mode on. It changes the prefix's registry and restores it at the end (Windows 2000,
# no switch), so CTest runs it alone.
# Usage: wine-settings.sh <ctapi_tests.exe>
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX names the private prefix}"
if [ $# -ne 1 ]; then
  echo "usage: $0 <ctapi_tests.exe>" >&2
  exit 2
fi
program="$1"
here="$(cd "$(dirname "$0")" && pwd)"
key='HKLM\System\CurrentControlSet\Control\Kelvane'

reg() { "$here/wine-run.sh" reg "$@" >/dev/null 2>&1; }
restore() {
  reg add 'HKCU\Software\Wine' /v Version /d win2k /f || true
  reg delete "$key" /f || true
}
trap restore EXIT

failures=0
# expect <what> <wanted output>: the program's line must be exactly the wanted one.
expect() {
  local got
  got="$("$here/wine-run.sh" "$program" --kv-child system-settings 2>&1 | tr -d '\r')"
  if [ "$got" = "$2" ]; then
    echo "ok: $1: $got"
  else
    echo "FAILED: $1: wanted \"$2\", got \"$got\""
    failures=$((failures + 1))
  fi
}

reg delete "$key" /f || true
for case in "win2k 50 0" "winxp 50 0" "nt40 40 0" "win98 98 0" "win7 0 -1"; do
  read -r version class opened <<<"$case"
  reg add 'HKCU\Software\Wine' /v Version /d "$version" /f
  expect "version $version" "os-class=$class single-port=0 ct-init=$opened"
done

reg add 'HKCU\Software\Wine' /v Version /d win2k /f
for value in 1 0; do
  reg add "$key\\CT-API" /v SinglePort /t REG_DWORD /d "$value" /f
  expect "SinglePort $value" "os-class=50 single-port=$value ct-init=0"
done
reg delete "$key" /f
expect "no SinglePort" "os-class=50 single-port=0 ct-init=0"

if [ "$failures" -ne 0 ]; then
  echo "wine-settings: $failures FAILED"
  exit 1
fi
echo "wine-settings: all passed"
