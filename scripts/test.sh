#!/usr/bin/env bash
# Builds everything and runs every test: native (debug with warnings as
# errors, AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer),
# the fuzz corpora as regression tests, the benchmarks (built only), and the win32 cross build with its
# tests under Wine on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

jobs=$(nproc)
run_preset() {
  local preset=$1
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
}

run_preset debug
run_preset asan
run_preset tsan

echo "=== fuzz corpora ==="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash scripts/fuzz.sh --replay

echo "=== bench (built, not timed: speed is measured by hand, see docs/performance.md) ==="
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs"

run_preset win32
