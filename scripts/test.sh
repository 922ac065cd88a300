#!/usr/bin/env bash
# Builds everything and runs every test: native (debug with warnings as
# errors, AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer),
# the core's unit tests as 32-bit Linux programs under qemu-i386,
# the fuzz corpora as regression tests, the benchmarks (built only), and the
# Windows cross builds with their tests under Wine on a virtual display: the
# 64-bit build always, the 32-bit one (the DLL as shipped) wherever the
# kernel runs 32-bit programs, and built with warnings as errors everywhere.
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
# The core and its unit tests as 32-bit programs (32-bit pointers, size_t and
# long, as in the DLL), under qemu-i386: on every machine, whatever its kernel.
run_preset i386

echo "=== fuzz corpora ==="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash scripts/fuzz.sh --replay

echo "=== bench (built, not timed: speed is measured by hand, see docs/performance.md) ==="
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs"

# The same DLL and tests for 64-bit Windows, under 64-bit Wine: these run on
# every machine, also one whose kernel runs no 32-bit program.
run_preset win64

if bash scripts/can-run-32bit.sh; then
  run_preset win32
else
  echo "=== win32 (built; only the checks that need no Wine run) ==="
  echo "This kernel runs no 32-bit program (i386 execve fails: IA-32 emulation is off),"
  echo "so 32-bit Wine cannot start. The win64 preset above ran the Wine tests; here the"
  echo "32-bit DLL is built and its binary interface is read from its code."
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j "$jobs"
  ctest --preset win32 -L static
fi

# The release package from the win32 build above (a few seconds): its own
# test (kestrin_package, label static) ran with the preset's ctest.
echo "=== package ==="
bash scripts/package.sh
