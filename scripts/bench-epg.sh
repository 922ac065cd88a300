#!/usr/bin/env bash
# kestrin-info --epg against the EPG peer (mirakurun 2.15.2's dump command,
# tools/peers) on the same file: wall time and peak resident memory of each
# run, several runs each. Results go to standard output as a table.
#   scripts/bench-epg.sh [RUNS [SECONDS]]
# The file is the generated eight-day multiplex of the differential test
# (three services with the EIT schedule, plus the update service), SECONDS
# of stream long (default 60). Needs the debug build (for the test that
# writes the scenario) and the bench build (release kestrin-info and
# kestrin-gen).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
seconds=${2:-60}
work=build/bench/epg
mkdir -p "$work"
scenario=build/debug/tests/tools/work/epg-week.scenario
if [ ! -f "$scenario" ]; then
  build/debug/tests/tools/kestrin_tools_tests --gtest_filter=EpgPeer.GeneratedWeekAgrees >/dev/null
fi
sed "s/^duration = 5$/duration = $seconds/" "$scenario" > "$work/week.scenario"
build/bench/tools/kestrin-gen -o "$work/week.ts" "$work/week.scenario" >/dev/null
size=$(stat -c %s "$work/week.ts")
echo "file: $work/week.ts, $size bytes ($seconds s of stream)"
peer=tools/peers/node_modules/mirakurun/bin/epgdump.js

measure() {  # label, command...: one line per run: wall seconds, peak KiB
  local label=$1; shift
  for i in $(seq "$runs"); do
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>&1
    echo "$label $i $(cat "$work/time.txt")"
  done
}
echo "tool run wall_s peak_kib"
measure kestrin-info build/bench/tools/kestrin-info --epg -o "$work/ours.json" "$work/week.ts"
rm -f "$work/peer.json"
measure peer env TZ=Asia/Tokyo node "$peer" -f "$work/week.ts" "$work/peer.json"
echo "programmes: ours $(grep -c '"id"' "$work/ours.json"), peer $(grep -c '"id"' "$work/peer.json")"
