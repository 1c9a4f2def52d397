#!/usr/bin/env bash
# Builds the test suite with clang under AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer into ./build-sanitize (or $VELMORA_BUILD_DIR), and
# runs it. Any finding fails its test. -O1 with line tables only keeps the build
# short; the benchmarks and fuzz targets stay out.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD_DIR:-$root/build-sanitize}"
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
  -DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF -DVELMORA_FUZZ=OFF "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 300
