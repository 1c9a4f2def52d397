#!/usr/bin/env bash
# Builds the Debian package from an existing build folder and checks that its
# dependencies were found: velmora_<version>_<arch>.deb in that folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD_DIR:-$root/build}"
cd "$build"
rm -f velmora_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log >&2; exit 1; }
deb="$(ls velmora_*.deb)"
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libqt6widgets6 libqt6network6 libqt6charts6; do
  grep -q "$lib" <<<"$depends" || { echo "build-package: $deb does not depend on $lib: $depends" >&2; exit 1; }
done
grep -q qt6-wayland <<<"$(dpkg-deb -f "$deb" Recommends)" ||
  { echo "build-package: $deb does not recommend qt6-wayland" >&2; exit 1; }
contents="$(dpkg-deb -c "$deb")"
grep -q '/usr/share/applications/velmora.desktop$' <<<"$contents" ||
  { echo "build-package: $deb has no desktop entry" >&2; exit 1; }
echo "build-package: $build/$deb"
