#!/usr/bin/env bash
# Installs Debian packages, asking apt only for what is missing (idempotent).
#
# Usage: scripts/install-packages.sh [--build-only] [PACKAGE...]
#   --build-only  what building and running the gateway need, and no more
#                 (scripts/run.sh, scripts/install.sh)
#   default       that, and everything the tests need (scripts/test.sh)
# Further names are added to the list (the benchmarks' peers).
set -euo pipefail

packages=(build-essential cmake ninja-build g++ pkg-config libcurl4-openssl-dev libssl-dev libxlsxwriter-dev qt6-base-dev qt6-translations-l10n xdg-utils)
if [ "${1:-}" = --build-only ]; then
  shift
else
  packages+=(
    googletest libgtest-dev libgmock-dev
    clang libclang-rt-dev
    curl iproute2 util-linux procps psmisc systemd
    nginx-light openssl wrk nodejs python3-pyftpdlib python3-aiosmtpd python3-openpyxl bind9-dnsutils
    fonts-dejavu-core
    dpkg-dev desktop-file-utils
  )
fi
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
