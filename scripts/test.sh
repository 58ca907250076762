#!/usr/bin/env bash
# The test command: installs the Debian packages the build needs when they are missing, then
# configures, builds and runs every test of the developer build (sanitizers on).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev clang-format libpcsclite-dev
  pcscd vsmartcard-vpcd)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake --preset dev
cmake --build --preset dev
ctest --preset dev --parallel "$(nproc)"
