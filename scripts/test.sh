#!/usr/bin/env bash
# The test command: installs the Debian packages the build needs when they are missing, then
# configures, builds and runs every test of the developer build (sanitizers on).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset dev
cmake --build --preset dev
ctest --preset dev --parallel "$(nproc)"
