#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Checks the export and import tables of the Windows deliverables with objdump -p:
# - CTKORVIN.dll exports exactly CT_close, CT_data, CT_init, CTKORVIKV_close, CTKORVIKV_data and
#   CTKORVIKV_init at ordinals 2 to 7 (no ordinal 1); memlink.dll its fourteen calls by ordinal
#   only; pinlink.dll MemPinVerify and MemPinChange as ordinals 1 and 2 without names and
#   SCardSPEVerifyPin and SCardSPEChangePin by name;
# - CTKORVIN.dll imports memlink.dll by ordinal only and pinlink.dll's ordinals 1 and 2 by ordinal;
#   inisync.exe imports the three CT-API calls from CTKORVIN.dll and is a program without a
#   window (GUI subsystem);
# - every one of them needs only system DLLs, WinSCard and our own three (no runtime DLLs of the
#   compiler: libstdc++, libgcc, winpthread).
# Usage: check-windows-binaries.sh <objdump> <CTKORVIN.dll> <memlink.dll> <pinlink.dll> <inisync.exe>
set -euo pipefail
if [ $# -ne 5 ]; then
  echo "usage: $0 <objdump> <CTKORVIN.dll> <memlink.dll> <pinlink.dll> <inisync.exe>" >&2
  exit 2
fi
objdump="$1"
ctkorvin="$2"
memlink="$3"
pinlink="$4"
inisync="$5"
failures=0

# One line per fact of the tables:
#   export <ordinal> <name, or - without one>
#   import <dll, lower case> ordinal <ordinal>  |  import <dll> name <name>
#   subsystem <number>
facts() {
  "$objdump" -p "$1" | awk '
    /^Subsystem/ { print "subsystem " $2 + 0 }
    /^Export Address Table -- Ordinal Base/ { base = $NF; part = "addresses"; next }
    /^\[Ordinal\/Name Pointer\] Table/ { part = "names"; next }
    /DLL Name:/ { dll = tolower($3); part = "imports"; next }
    /^$/ { if (part != "imports") part = "" ; next }
    part == "addresses" && /Export RVA/ {
      match($0, /\+base\[ *[0-9]+\]/); n = substr($0, RSTART, RLENGTH); gsub(/[^0-9]/, "", n)
      exported[n + 0] = "-"
    }
    part == "names" && /^\t\[/ {
      index_text = $0; sub(/^\t\[ */, "", index_text); sub(/\].*/, "", index_text)
      exported[index_text + base] = $NF
    }
    part == "imports" && /^\t[0-9a-f]+\t/ {
      if ($3 == "<none>") print "import " dll " ordinal " $2 + 0
      else print "import " dll " name " $3
    }
    END { for (o in exported) print "export " o " " exported[o] }
  ' | sort
}

expect() {  # expect <description> <expected lines> <actual lines>
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1" >&2
    diff <(echo "$2") <(echo "$3") >&2 || true
    failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}

ct_facts=$(facts "$ctkorvin")
mem_facts=$(facts "$memlink")
pin_facts=$(facts "$pinlink")
ini_facts=$(facts "$inisync")

expect "CTKORVIN.dll exports" "$(printf '%s\n' 'export 2 CT_close' 'export 3 CT_data' \
  'export 4 CT_init' 'export 5 CTKORVIKV_close' 'export 6 CTKORVIKV_data' \
  'export 7 CTKORVIKV_init' | sort)" "$(grep '^export' <<<"$ct_facts" || true)"
expect "memlink.dll exports (by ordinal only)" \
  "$(for o in 11 13 15 16 21 22 23 24 25 26 28 30 31 32; do echo "export $o -"; done | sort)" \
  "$(grep '^export' <<<"$mem_facts" || true)"
expect "pinlink.dll exports" "$(printf '%s\n' 'export 1 -' 'export 2 -' \
  'export 3 SCardSPEVerifyPin' 'export 4 SCardSPEChangePin' | sort)" \
  "$(grep '^export' <<<"$pin_facts" || true)"
expect "CTKORVIN.dll imports memlink.dll by ordinal only" \
  "$(for o in 11 13 15 16 21 22 23 24 25 26 28 30 31 32; do echo "import memlink.dll ordinal $o"; done | sort)" \
  "$(grep '^import memlink.dll ' <<<"$ct_facts" || true)"
expect "CTKORVIN.dll imports pinlink.dll" "$(printf '%s\n' 'import pinlink.dll name SCardSPEChangePin' \
  'import pinlink.dll name SCardSPEVerifyPin' 'import pinlink.dll ordinal 1' \
  'import pinlink.dll ordinal 2' | sort)" "$(grep '^import pinlink.dll ' <<<"$ct_facts" || true)"
expect "inisync.exe imports the CT-API from CTKORVIN.dll" "$(printf '%s\n' \
  'import ctkorvin.dll name CT_close' 'import ctkorvin.dll name CT_data' \
  'import ctkorvin.dll name CT_init' | sort)" "$(grep '^import ctkorvin.dll ' <<<"$ini_facts" || true)"
expect "inisync.exe is a program without a window" "subsystem 2" \
  "$(grep '^subsystem' <<<"$ini_facts" || true)"

allowed='^(kernel32|advapi32|user32|msvcrt|winscard|ctkorvin|memlink|pinlink)\.dll$'
for file in "$ctkorvin" "$memlink" "$pinlink" "$inisync"; do
  dlls=$("$objdump" -p "$file" | awk '/DLL Name:/ { print tolower($3) }' | sort -u)
  others=$(grep -Ev "$allowed" <<<"$dlls" || true)
  expect "$(basename "$file") needs only system DLLs, WinSCard and our own" "" "$others"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
