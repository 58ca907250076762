#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Fails unless the shared library exports exactly the given names (and nothing else of its own).
# Usage: check-exports.sh <library.so> <name>...
set -euo pipefail
library="$1"
shift
actual=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TDBRVW]$/ && $2 != "W" { print $3 }' | sort)
expected=$(printf '%s\n' "$@" | sort)
if [ "$actual" != "$expected" ]; then
  echo "exports of $library differ:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
echo "$library exports exactly: $(echo "$actual" | tr '\n' ' ')"
