#!/usr/bin/env bash
# Installs the Debian 12 packages the console, its tests and tools need.
# Run as root (or through sudo); does nothing when everything is present.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-multimedia-dev qt6-qpa-plugins libqt6opengl6-dev
  nettle-dev libxss-dev libx11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-aiosmtpd openssl
  clang libclang-rt-14-dev
  xvfb xauth xdotool
  desktop-file-utils dpkg-dev file man-db
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
