#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The main job: a CT-API session through libctkorvin.so on virtual readers, printed as a
# transcript a person can follow. On a fresh Debian 12 machine it installs what it needs
# (install-deps.sh), builds the developer preset (the library, ctkorvin-cli, inisync, kv-vicc and
# kv-pcsc-wait), starts a private pcscd with three vpcd readers and kv-vicc cards in them
# (tests/e2e/pcscd-private.sh) and talks to the cards with ctkorvin-cli, down to reading a health
# insurance card whole; at the end inisync records the virtual readers in a vezidide.ini of its
# own. Everything it starts is stopped before it ends.
#
#   scripts/demo.sh [--windows]
#
# --windows runs the same session through the cross-built CTKORVIN.dll under Wine instead, on the
# simulator's winscard.dll (scripts/demo-windows.sh); it needs no root.
#
# The private pcscd needs root (a mount namespace over /run/pcscd); as another user that part
# runs through sudo. KV_DEMO_PORT_BASE picks the six vpcd ports (default 35980).
# Exit status: 0 when every CT-API call of the session returned OK and inisync ended with 0, 1
# otherwise.
set -euo pipefail

readonly kProcessorReader="TREVANO Kelvane Birch"
readonly kMemoryReader="TREVANO Kelvane Alder"
readonly kInsuranceReader="TREVANO Kelvane Cedar"
# A T=0 processor card: historical bytes "KVIC", the file 2F01 holding "Hello, CT-API!" and one
# scripted answer. Over T=0 the library sends 80 CA 9F 7F 00 as its four header bytes, so that
# is the form the script knows.
processor_card="--atr 3B44004B564943 --file 2F01=48656C6C6F2C2043542D41504921"
processor_card+=" --script 80CA9F7F=4B562D564943439000"
readonly processor_card
# A 2-wire memory card whose memory starts with the header A2 13 10 91.
readonly kMemoryCard="--memory 2wire --memory-data A2131091"
# A 2-wire health insurance card: the tests' generator fills it with a valid data object.
readonly kInsuranceCard="--memory 2wire --insurance-card"

here=$(cd "$(dirname "$0")" && pwd)
self="$here/$(basename "$0")"
root=$(cd "$here/.." && pwd)
build="$root/build/dev"

# --- the transcript (runs inside the private stack) -------------------------------------------

failures=0

heading() {
  printf '\n== %s\n' "$*"
}

# Runs ctkorvin-cli, shows its command line first; a failure is counted, not fatal.
cli() {
  local shown=("ctkorvin-cli" "$@")
  printf '$ %s\n' "${shown[*]}"
  "$build/tools/ctkorvin-cli" "$@" || failures=$((failures + 1))
}

transcript() {
  heading "The readers: every port from 1 to 244 that opens, named by the vendor command 20 FF 00 00 00"
  cli list

  heading "Port 1: the processor card in \"$kProcessorReader 0\""
  cli session --port 1 <<'EOF'
# The terminal: who made it, what it has, what is in its slot
ct 20 13 00 46 00
ct 20 13 00 81 00
ct 20 13 01 80 00
# The card is in the slot but not powered yet
icc 00 B0 00 00 00
# REQUEST ICC powers the card and answers its ATR
ct 20 12 01 01 00
ct 20 13 01 80 00
# SELECT FILE 2F01 and READ BINARY (over T=0, Le 00 travels as the four header bytes)
icc 00 A4 00 0C 02 2F 01
icc 00 B0 00 00 00
# Four bytes from offset 7
icc 00 B0 00 07 04
# A command the card answers from its script
icc 80 CA 9F 7F 00
# A file the card does not have, and a terminal command with a wrong P1
icc 00 A4 00 0C 02 4F 99
ct 20 12 00 00
EOF

  heading "Port 20: the memory card in \"$kMemoryReader 0\""
  cli session --port 20 <<'EOF'
# REQUEST ICC: a memory card answers with its four header bytes and 90 00
ct 20 12 01 01 00
ct 20 13 01 80 00
EOF

  heading "Port 50: the health insurance card in \"$kInsuranceReader 0\""
  cli session --port 50 <<'EOF'
# REQUEST ICC: the header A2 13 10 91 of a 2-wire card
ct 20 12 01 01 00
# SELECT FILE of the insurance application: the library checks the card's layout and its data
# object, checksum included, before it selects the object
icc 00 A4 04 00 06 D2 76 00 00 01 01
# READ BINARY of the whole object, up to its checksum byte (62 82: the end is reached)
icc 00 B0 00 00 00
EOF

  heading "inisync -N: the readers that answer, recorded in vezidide.ini of a scratch Windows directory"
  local windir status=0
  windir=$(mktemp -d /tmp/ctkorvin-demo-windir.XXXXXX)
  printf '$ WINDIR=%s inisync -N\n' "$windir"
  WINDIR="$windir" "$build/inisync/inisync" -N || status=$?
  printf '(exit code %d; inisync prints nothing)\n' "$status"
  ((status == 0)) || failures=$((failures + 1))
  printf '$ cat %s/vezidide.ini\n' "$windir"
  tr -d '\r' <"$windir/vezidide.ini" || failures=$((failures + 1))
  rm -rf "$windir"

  if ((failures)); then
    heading "$failures step(s) failed"
    return 1
  fi
  heading "Done: every CT-API call returned OK"
}

# --- the private stack (root) ------------------------------------------------------------------

stack() {
  local workdir status=0
  if [ "$(id -u)" -ne 0 ]; then
    echo "demo: the private pcscd needs root (a mount namespace over /run/pcscd); run: sudo $self" >&2
    return 1
  fi
  workdir=$(mktemp -d /tmp/ctkorvin-demo.XXXXXX)
  # shellcheck disable=SC2064 # the folder is known now
  trap "rm -rf '$workdir'" EXIT
  export KV_VICC="$build/tools/kv-vicc"
  export KV_PCSC_WAIT="$build/tests/e2e/kv-pcsc-wait"
  export KV_E2E_PORT_BASE="${1:-${KV_DEMO_PORT_BASE:-35980}}"
  echo "Starting a private pcscd with the vpcd readers \"$kProcessorReader\" (ports 1 and 2),"
  echo "\"$kMemoryReader\" (ports 20 and 21) and \"$kInsuranceReader\" (ports 50 and 51): a"
  echo "processor card, a 2-wire memory card and a health insurance card in their first slots"
  echo "(kv-vicc)."
  "$root/tests/e2e/pcscd-private.sh" run "$workdir" \
    --card "0:0=$processor_card" --card "1:0=$kMemoryCard" --card "2:0=$kInsuranceCard" \
    "$kProcessorReader" "$kMemoryReader" "$kInsuranceReader" -- bash "$self" --transcript ||
    status=$?
  return "$status"
}

# --- install, build, run -----------------------------------------------------------------------

main() {
  cd "$root"
  # Root, or sudo to become it, is needed for the stack: say so before a minute of building.
  if [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null; then
    echo "demo: the private pcscd needs root (a mount namespace over /run/pcscd) and there is" >&2
    echo "no sudo; run the demo as root: scripts/demo.sh" >&2
    return 1
  fi
  bash scripts/install-deps.sh
  local log="$root/build/demo-build.log"
  mkdir -p "$root/build"
  echo "Building the library, ctkorvin-cli, inisync, kv-vicc and kv-pcsc-wait (log: build/demo-build.log)"
  if ! { cmake --preset dev && cmake --build --preset dev --target ctkorvin ctkorvin-cli kv-vicc \
    kv-pcsc-wait inisync; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "demo: the build failed; the whole log is $log" >&2
    return 1
  fi

  if [ "$(id -u)" -eq 0 ]; then
    stack
  else
    echo "The private pcscd needs root (a mount namespace over /run/pcscd): asking sudo."
    sudo bash "$self" --stack "${KV_DEMO_PORT_BASE:-}"
  fi
}

case "${1:-}" in
--windows) exec bash "$here/demo-windows.sh" ;;
--transcript) transcript ;;
--stack) stack "${2:-}" ;;
"") main ;;
*)
  sed -n '11p' "$0" | sed 's/^# *//' >&2
  exit 2
  ;;
esac
