#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The benchmarks of the real stack, on a private pcscd with vpcd readers and kv-vicc cards
# (tests/e2e/pcscd-private.sh; needs root for its mount namespace):
#   - CT_data to a processor card against the raw PC/SC calls the library makes for it;
#   - inisync -N probing every port with 12 readers attached (6 vpcd readers of two slots).
#   bench/stack-bench.sh [BUILD_DIR]      (default build/release; the helpers come from build/dev)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
export KV_VICC=${KV_VICC:-$root/build/dev/tools/kv-vicc}
export KV_PCSC_WAIT=${KV_PCSC_WAIT:-$root/build/dev/tests/e2e/kv-pcsc-wait}
export KV_E2E_PORT_BASE=${KV_E2E_PORT_BASE:-36200}
stack="$root/tests/e2e/pcscd-private.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/kvstackbench.XXXXXX")
trap 'rm -rf "$work"' EXIT

card="--atr 3B8F8001804F0CA000000306030001000000006A --file 2F01=48656C6C6F2C2043542D41504921000000"
echo "== CT_data against the raw PC/SC calls"
"$stack" run "$work/one" --card "0:0=$card" "TREVANO Kelvane Birch" -- \
  "$build/bench/ctdata_stack_bench"

echo "== inisync -N with 12 readers"
cat >"$work/inisync.sh" <<SCRIPT
#!/usr/bin/env bash
for i in 1 2 3 4 5; do
  rm -f "$work/vezidide.ini"
  start=\$(date +%s%N)
  WINDIR="$work" "$build/inisync/inisync" -N
  echo "run \$i: \$(( (\$(date +%s%N) - start) / 1000000 )) ms"
done
SCRIPT
chmod +x "$work/inisync.sh"
"$stack" run "$work/twelve" "TREVANO Kelvane Birch" "TREVANO Kelvane Alder" "TREVANO Kelvane Cedar" \
  "TREVANO Kelvane Elm" "TREVANO Kelvane Hazel" "TREVANO Kelvane Willow" -- "$work/inisync.sh"
