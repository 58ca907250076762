#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The end-to-end test driver CTest runs: the real PC/SC stack (a private pcscd with vpcd virtual
# readers and kv-vicc cards, see pcscd-private.sh) around one test program, then a check that
# nothing of it is left running.
#
#   run-e2e.sh <workdir> [--card R:S=ARGS]... <reader-name>... -- <test-program> [args]
#
# Exit status: the test program's; 77 (CTest: skipped) when not root; 1 when a prerequisite is
# missing (CI installs them, so a skip would hide a broken set-up), when the stack does not come
# up or when a process of it outlives the run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
(($# >= 4)) || {
  sed -n '7p' "$0" | sed 's/^# *//' >&2
  exit 1
}
workdir=$1

missing=()
command -v pcscd >/dev/null || [ -x /usr/sbin/pcscd ] || missing+=("pcscd (package pcscd)")
[ -f "${KV_VPCD_DRIVER:-/usr/lib/pcsc/drivers/serial/libifdvpcd.so}" ] ||
  missing+=("the vpcd driver (package vsmartcard-vpcd)")
command -v unshare >/dev/null || missing+=("unshare (package util-linux)")
[ -x "${KV_VICC:-}" ] || missing+=("kv-vicc (KV_VICC=${KV_VICC:-})")
[ -x "${KV_PCSC_WAIT:-}" ] || missing+=("kv-pcsc-wait (KV_PCSC_WAIT=${KV_PCSC_WAIT:-})")
if ((${#missing[@]})); then
  echo "e2e: FAILED: missing prerequisites:" >&2
  printf '  %s\n' "${missing[@]}" >&2
  echo "e2e: scripts/test.sh installs the packages" >&2
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "e2e: SKIPPED: the private pcscd needs root (a mount namespace over /run/pcscd)" >&2
  exit 77
fi

status=0
"$here/pcscd-private.sh" run "$@" || status=$?

# Nothing of ours may outlive the run: neither this work directory's pcscd nor a kv-vicc on one
# of its ports.
mkdir -p "$workdir"
workdir=$(cd "$workdir" && pwd)
pattern="--config $workdir/reader.conf.d"
if [ -s "$workdir/ports" ]; then
  pattern="$pattern|kv-vicc --port ($(paste -sd '|' "$workdir/ports")) "
fi
if leftovers=$(pgrep -a -f -- "$pattern"); then
  echo "e2e: FAILED: still running after the run:" >&2
  echo "$leftovers" >&2
  ((status != 0 && status != 77)) || status=1
fi
exit "$status"
