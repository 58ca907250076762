#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Fails when clang-format would change any C++ file of the tree. Usage: check-format.sh [clang-format]
set -euo pipefail
cd "$(dirname "$0")/.."
formatter="${1:-clang-format}"
mapfile -t files < <(find . -path ./build -prune -o -path ./.git -prune -o \
  \( -name '*.cpp' -o -name '*.h' \) -print | sort)
if ((${#files[@]} == 0)); then
  echo "no C++ files found" >&2
  exit 1
fi
"$formatter" --dry-run --Werror "${files[@]}"
echo "${#files[@]} files formatted as .clang-format asks"
