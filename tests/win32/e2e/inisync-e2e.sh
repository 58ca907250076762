#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# inisync.exe -N under Wine over the simulator's winscard.dll (the readers of the file that
# KV_SIM_WORLD names), writing C:\windows\vezidide.ini through Wine's private-profile service;
# the file must say what the expected file says, as the Linux run over the same readers does
# (tests/inisync/world_test.cpp).
#
# The comparison leaves aside what may rightly differ between the two services: the line ends
# (CR LF or LF), blank lines (Windows' service may write one between sections), the expected
# file's own comment lines (";") and the value of CtDllName, the path of the library that
# inisync found. That value is checked on its own: the CTKORVIN.dll beside inisync.exe, as
# SearchPathA names it (letter case aside: Windows paths are case-blind). Names of sections and
# keys and all other values must be equal letter for letter.
# Usage: inisync-e2e.sh <folder with inisync.exe and the DLLs> <expected vezidide.ini>
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX names the private prefix}"
if [ $# -ne 2 ]; then
  echo "usage: $0 <folder of inisync.exe> <expected vezidide.ini>" >&2
  exit 2
fi
folder="$1"
expected="$2"
here="$(cd "$(dirname "$0")" && pwd)"
run="$here/../../../scripts/wine-run.sh"
ini="$WINEPREFIX/drive_c/windows/vezidide.ini"

# The comparable content: no CR, no blank or comment lines, CtDllName without its value.
normal() {
  tr -d '\r' <"$1" | grep -v -e '^[[:space:]]*$' -e '^;' | sed 's/^CtDllName=.*/CtDllName=/'
}

rm -f "$ini"
status=0
"$run" "$folder/inisync.exe" -N || status=$?
if [ "$status" -ne 0 ] || [ ! -f "$ini" ]; then
  echo "inisync-e2e: FAILED: inisync.exe ended with $status and left no C:\\windows\\vezidide.ini"
  exit 1
fi
echo "C:\\windows\\vezidide.ini as inisync.exe left it:"
tr -d '\r' <"$ini"

failures=0
if ! diff -u <(normal "$expected") <(normal "$ini"); then
  echo "FAILED: the file differs from $expected (lines with - are expected, + written)"
  failures=$((failures + 1))
fi
library="$("$run" winepath -w "$folder/CTKORVIN.dll" 2>/dev/null | tr -d '\r')"
while IFS= read -r path; do
  if [ "${path,,}" != "${library,,}" ]; then
    echo "FAILED: CtDllName=$path is not $library"
    failures=$((failures + 1))
  fi
done < <(tr -d '\r' <"$ini" | sed -n 's/^CtDllName=//p')
if ! grep -q '^CtDllName=' "$ini"; then
  echo "FAILED: no CtDllName in the file"
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  echo "inisync-e2e: $failures FAILED"
  exit 1
fi
echo "inisync-e2e: passed"
