#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs the Debian packages that the build, the tests and the demo need, when any is missing:
# the tool chain, GoogleTest, clang-format, pcsc-lite, pcscd, the vpcd virtual reader driver, the
# process and socket tools the private pcscd script uses, and the standard CT-API header (the
# public header is tested beside it) and Google Benchmark.
# test.sh and demo.sh call it. apt-get runs through sudo when you are not root.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev clang-format libpcsclite-dev
  pcscd vsmartcard-vpcd procps iproute2 ctapi-dev libbenchmark-dev)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
((${#missing[@]})) || exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: these packages are missing and there is no sudo; as root run:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
  fi
  sudo="sudo"
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
