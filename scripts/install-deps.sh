#!/usr/bin/env bash
# Installs the Debian 12 packages the console, its tests and tools need.
# Run as root (or through sudo); does nothing when everything is present, and
# then costs one dpkg-query, no apt.
#
#   install-deps.sh [all]          everything: console, tests, sanitizers, scripts
#   install-deps.sh console        only what building and running the console needs
#   install-deps.sh two-consoles   the console and what scripts/two-consoles.sh uses
set -euo pipefail
console=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-charts-dev qt6-qpa-plugins libqt6opengl6-dev
  nettle-dev libxss-dev libx11-dev libpulse0
  libwayland-dev libwayland-bin wayland-protocols plasma-wayland-protocols
  libsqlite3-dev libsqlite3-0
  libpq-dev libpq5
  libenchant-2-dev libenchant-2-2 hunspell-en-us
  xvfb xauth
)
# two-consoles.sh: wmctrl places the two main windows apart, openbox manages
# them under the script's own Xvfb (wmctrl needs a window manager), aiosmtpd
# takes the transcripts. The tests run a private PostgreSQL server (the team
# archive's), which libpq-dev alone does not bring.
two=(wmctrl openbox python3 python3-aiosmtpd)
tests=(
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-aiosmtpd openssl
  clang libclang-rt-14-dev
  xdotool
  sway wtype qt6-wayland
  desktop-file-utils dpkg-dev file man-db
  postgresql-15
)
case "${1:-all}" in
  console) packages=("${console[@]}") ;;
  two-consoles) packages=("${console[@]}" "${two[@]}") ;;
  all) packages=("${console[@]}" "${tests[@]}" "${two[@]}") ;;
  *)
    echo "usage: $0 [all|console|two-consoles]" >&2
    exit 2
    ;;
esac
# One query for all of them: a package dpkg does not know is simply not listed.
installed="$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null || true)"
missing=()
for p in "${packages[@]}"; do
  grep -qx "$p install ok installed" <<<"$installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
