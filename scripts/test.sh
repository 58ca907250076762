#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The test command: installs the Debian packages the build needs when they are missing, then
# configures, builds and runs every test of the developer build (sanitizers on), and after it the
# Windows deliverables, cross-built and tested under Wine (scripts/test-windows.sh).
#   --linux-only  skips the Windows part, for a quick local loop (CI runs both)
set -euo pipefail
cd "$(dirname "$0")/.."

windows=1
case "${1:-}" in
  "") ;;
  --linux-only) windows=0 ;;
  *)
    echo "usage: $0 [--linux-only]" >&2
    exit 2
    ;;
esac

bash scripts/install-deps.sh

cmake --preset dev
cmake --build --preset dev
ctest --preset dev --parallel "$(nproc)"

if ((windows)); then
  bash scripts/test-windows.sh
fi
