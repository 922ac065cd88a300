#!/usr/bin/env bash
# Soak of the real Kestrin.dll under Wine: kestrin-host feeds it PACKETS
# packets (default 10,000,000) of the sample stream mixed with damage (random
# bytes, buffer lengths that are not multiples of 188, cut sections, repeated
# continuity counters, misaligned packets, mutated PSI/SI headers), from its
# stream thread and as fast as it can, while the window thread handles the
# viewer's messages, service changes (OnChannelChange from both threads),
# recording toggles (IDC_ONESEG_RECORD), view toggles (IDC_PRESENT_FOLLOWING),
# recording requests and channel buttons. Every buffer handed over ends at a
# page the process may not touch, so a read past its end faults.
#
# It passes when the process survives, every recording is whole 188-byte
# packets, and every text of the window, checked after each event and at
# every sample, is well-formed Shift_JIS. The host logs the process's
# committed private memory and working set twenty times; the summary shows
# the first sample after start-up against the last.
#
# Usage: scripts/soak.sh [PACKETS] [SEED]
# Output in build/soak/: soak.log (the host's log), texts.txt, rec/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$root/build/soak
packets=${1:-10000000}
seed=${2:-1}
jobs=$(nproc)

# The 32-bit DLL as shipped; its 64-bit build where the kernel runs no
# 32-bit program (scripts/can-run-32bit.sh).
preset=win32
wine_arch=()
if ! bash scripts/can-run-32bit.sh; then
  preset=win64
  wine_arch=(--win64)
fi
echo "=== build: Kestrin.dll, kestrin-host.exe ($preset preset), kestrin-gen (native) ==="
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$jobs" --target Kestrin kestrin-host
cmake -S . -B "$out/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRIN_TESTS=OFF >/dev/null
cmake --build "$out/native" -j "$jobs" --target kestrin-gen

mkdir -p "$out/rec"
"$out/native/tools/kestrin-gen" -o "$out/sample.ts"
cp "$root/build/$preset/tools/host/kestrin-host.exe" "$root/build/$preset/win32/Kestrin.dll" "$out/"
rm -f "$out/soak.log" "$out/texts.txt"

echo "=== soak: $packets packets, seed $seed ==="
status=0
(cd "$out" && bash "$root/scripts/wine-run.sh" "${wine_arch[@]}" kestrin-host.exe --soak "$packets" --seed "$seed" \
   --record-dir rec --log soak.log --texts texts.txt sample.ts) || status=$?
grep -E 'sample at packet' "$out/soak.log" | sed -n '1p;2p;$p'
sed -n '/soak summary/,$p' "$out/soak.log"
if [ "$status" -ne 0 ]; then
  echo "soak FAILED (kestrin-host exit code $status); the log is build/soak/soak.log"
  tail -20 "$out/soak.log"
fi
exit "$status"
