#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
# Usage: scripts/setup.sh [extra-package ...]
# The emoji font is for the devices table's connected marks (and screenshots).
set -euo pipefail

packages=(cmake ninja-build pkg-config g++ qt6-base-dev libhidapi-dev libcli11-dev libgtest-dev libgmock-dev
          libssl-dev openssl libpcap-dev clang-format fonts-noto-color-emoji "$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
