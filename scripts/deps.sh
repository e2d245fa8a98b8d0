#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kelvane need, when any is missing.
# Safe to run again: it does nothing when everything is present.
set -euo pipefail

packages=(
  g++ clang cmake ninja-build pkg-config
  zlib1g-dev libboost-dev libboost-filesystem-dev libboost-system-dev
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  tinyproxy e2fsprogs mount
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
  else
    echo "These packages are missing and this user is not root: ${missing[*]}" >&2
    echo "Install them as root (apt-get install ${missing[*]}) and run this again." >&2
    exit 1
  fi
else
  SUDO=
fi

$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
