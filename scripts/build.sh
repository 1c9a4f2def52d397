#!/usr/bin/env bash
# Configures and builds into ./build (or $VELMORA_BUILD_DIR), the test suite
# included (run-console.sh may have configured that folder without it).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
