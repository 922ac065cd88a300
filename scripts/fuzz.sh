#!/usr/bin/env bash
# Runs the libFuzzer targets of build/fuzz.
#   scripts/fuzz.sh --replay            every corpus once, as a regression test
#   scripts/fuzz.sh [SECONDS [TARGET]]  fuzz each target (or one) for SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/fuzz/fuzz
shopt -s nullglob
targets=("$bin"/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then echo "no fuzz targets built"; exit 0; fi
if [ "${1:-}" = "--replay" ]; then
  for t in "${targets[@]}"; do
    name=$(basename "$t")
    corpus=fuzz/corpus/${name#fuzz_}
    [ -d "$corpus" ] || continue
    echo "replay $name ($(ls "$corpus" | wc -l) inputs)"
    "$t" -runs=0 "$corpus" >/dev/null 2>"build/fuzz/$name.log" || { cat "build/fuzz/$name.log"; exit 1; }
  done
  exit 0
fi
seconds=${1:-60}
for t in "${targets[@]}"; do
  name=$(basename "$t")
  [ -n "${2:-}" ] && [ "$name" != "fuzz_$2" ] && continue
  corpus=fuzz/corpus/${name#fuzz_}
  mkdir -p "$corpus" build/fuzz/new-$name
  echo "fuzz $name for ${seconds}s"
  "$t" -max_total_time="$seconds" -print_final_stats=1 build/fuzz/new-$name "$corpus"
done
