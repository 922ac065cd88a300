#!/usr/bin/env bash
# Runs the libFuzzer targets of build/fuzz (cmake --preset fuzz && cmake --build --preset fuzz).
#   scripts/fuzz.sh --replay            every committed corpus once, as a regression test
#   scripts/fuzz.sh [SECONDS [TARGET]]  fuzz each target (or only fuzz_TARGET) for SECONDS
#   scripts/fuzz.sh --make-seeds        rewrite the generated seeds of fuzz/corpus/
# KESTRIN_FUZZ_BUILD names another build directory of the same kind.
#
# Fuzzing reads the committed corpus fuzz/corpus/<target>/ and writes what it
# finds to build/fuzz/new-fuzz_<target>/, so the committed seeds stay small;
# a crash is written to build/fuzz/crash-fuzz_<target>-*. Copy an input that
# once crashed into fuzz/corpus/<target>/ as regression-<what> so that
# --replay keeps checking it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KESTRIN_FUZZ_BUILD:-build/fuzz}
bin=$build/fuzz
shopt -s nullglob

if [ "${1:-}" = "--make-seeds" ]; then
  # Built against the sanitized libraries of the fuzz build.
  lib=$build
  [ -f $lib/libkestrin_ts.a ] || { echo "build the fuzz preset first"; exit 1; }
  clang++ -std=c++17 -O1 -g -fsanitize=address,undefined -I. fuzz/make_seeds.cpp \
    $lib/tools/streamkit/libkestrin_streamkit.a $lib/libkestrin_text.a $lib/libkestrin_ts.a -o $lib/make_seeds
  for t in packet_path event_handlers pmt_pat settings; do mkdir -p fuzz/corpus/$t; done
  # kestrin-gen's sample stream, when the fuzz build made it, gives excerpts.
  $lib/make_seeds fuzz/corpus tests/data/real "$( [ -f $lib/sample.ts ] && echo $lib/sample.ts )"
  exit 0
fi

targets=("$bin"/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then echo "no fuzz targets built"; exit 0; fi

if [ "${1:-}" = "--replay" ]; then
  status=0
  for t in "${targets[@]}"; do
    name=$(basename "$t")
    corpus=fuzz/corpus/${name#fuzz_}
    [ -d "$corpus" ] || continue
    echo "replay $name ($(ls "$corpus" | wc -l) inputs)"
    if ! "$t" -runs=0 -timeout=20 -rss_limit_mb=2048 -artifact_prefix="$build/replay-$name-" \
        "$corpus" >/dev/null 2>"$build/$name.log"; then
      cat "$build/$name.log"
      status=1
    fi
  done
  exit $status
fi

seconds=${1:-60}
for t in "${targets[@]}"; do
  name=$(basename "$t")
  [ -n "${2:-}" ] && [ "$name" != "fuzz_$2" ] && continue
  corpus=fuzz/corpus/${name#fuzz_}
  mkdir -p "$corpus" "$build/new-$name"
  echo "fuzz $name for ${seconds}s"
  # The packet path takes whole stream excerpts; the others small records.
  max_len=4096
  [ "$name" = fuzz_packet_path ] && max_len=20000
  "$t" -max_total_time="$seconds" -max_len=$max_len -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/crash-$name-" \
    "$build/new-$name" "$corpus"
done
