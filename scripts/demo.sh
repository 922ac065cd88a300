#!/usr/bin/env bash
# The demonstration: Kestrin.dll at work inside a viewer host.
#
# On a Debian 12 machine (as root, or with sudo) it installs what is missing,
# builds Kestrin.dll and the viewer host kestrin-host.exe (32-bit Windows,
# mingw-w64) and the stream generator kestrin-gen (native), writes the
# sample ISDB-T stream, and plays it into the real DLL under Wine on a
# virtual display at the stream's pace. On the way the host presses the
# viewer's buttons as a user would: the plug-in's own recording of the
# one-segment service starts near the beginning and stops near the end, the
# recording request goes to the host, the view switches from the present to
# the following programme. Then it prints what the window shows, saves
# pictures of it and checks the recording.
#
# Everything lands in build/demo/:
#   texts.txt                       the window's texts (UTF-8)
#   kestrin-window.png              the viewer in the present view
#   kestrin-window-following.png    the viewer in the following view
#   rec/ch27_YYYYMMDD_HHMMSS.ts     the plug-in's recording
#   host.log                        what the host did and was asked to do
# Running it again replaces them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
demo=$root/build/demo
jobs=$(nproc)

step() { printf '\n=== %s ===\n' "$*"; }
# A Linux path as Wine sees it: drive Z: is the root of the file system.
winpath() { printf 'Z:%s' "$(realpath -m "$1" | sed 's#/#\\#g')"; }

step "1/5 Packages (scripts/bootstrap.sh)"
bash scripts/bootstrap.sh
echo "ok"

# The DLL as shipped is the 32-bit one. On a kernel that runs no 32-bit
# program, 32-bit Wine cannot start: there the same sources built for 64-bit
# Windows play the part, under 64-bit Wine.
preset=win32
wine_arch=()
if ! bash scripts/can-run-32bit.sh; then
  preset=win64
  wine_arch=(--win64)
fi

step "2/5 Build: Kestrin.dll and kestrin-host.exe ($preset preset), kestrin-gen (native)"
if [ "$preset" = win64 ]; then
  echo "This kernel runs no 32-bit program (IA-32 emulation is off), so 32-bit Wine cannot"
  echo "start here: the demonstration uses the same sources built for 64-bit Windows."
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$jobs" --target Kestrin kestrin-host
cmake -S . -B "$demo/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRIN_TESTS=OFF >/dev/null
cmake --build "$demo/native" -j "$jobs" --target kestrin-gen

step "3/5 Sample stream"
mkdir -p "$demo/rec"
"$demo/native/tools/kestrin-gen" -o "$demo/sample.ts"
packets=$(( $(stat -c %s "$demo/sample.ts") / 188 ))
echo "build/demo/sample.ts: $packets packets (the built-in sample scenario: 3 s at 16 Mbit/s,"
echo "from 21:59:59 on 8 December 2026, when the programmes change at 22:00)"

# The host program and the plug-in side by side, with the settings file the
# plug-in reads from beside the host's executable.
cp "$root/build/$preset/tools/host/kestrin-host.exe" "$root/build/$preset/win32/Kestrin.dll" "$demo/"
rm -f "$demo"/rec/*.ts "$demo"/*.bmp "$demo"/*.png "$demo/texts.txt" "$demo/host.log"
recdir=$(winpath "$demo/rec")
printf '%s\r\n' \
  '[POSITION]' 'Left=40' 'Top=40' 'Font=1' \
  '[SERVICE]' 'CH1=27' 'CH2=26' 'CH3=25' 'CH4=24' 'CH5=22' 'CH6=21' \
  'CH7=16' 'CH8=23' 'CH9=28' 'CH10=20' 'CH11=18' 'CH12=0' \
  '[1Seg]' "Directory=$recdir" > "$demo/Kestrin.ini"
echo "build/demo/Kestrin.ini: channel buttons 1-11 on channels 27, 26, 25, 24, 22, 21, 16, 23, 28, 20, 18;"
echo "recordings to $recdir"

step "4/5 Kestrin.dll in kestrin-host under Wine (virtual display)"
# The script, in packets of the stream (about 10,600 a second; the EIT
# present/following sections come at the start of each second, and the
# programmes change at the second one, packet 10,649):
#   1000   start the one-segment recording (IDC_ONESEG_RECORD, 1023)
#   15000  the window's texts and a picture in the present view; the
#          recording request (IDC_RECORD_REQUEST, 1022) for the present
#          programme; switch to the following view (IDC_PRESENT_FOLLOWING,
#          1021), whose text comes with the next EIT section
#   25000  the recording request for the following programme
#   31000  stop the recording
#   end    texts and a picture in the following view
start=1000
shown=15000
request=25000
stop=$(( packets > 31500 ? 31000 : packets - 500 ))
if ! (cd "$demo" && bash "$root/scripts/wine-run.sh" "${wine_arch[@]}" kestrin-host.exe \
      --channel 27 \
      --press "$start:1023" \
      --at "$shown:texts" \
      --at "$shown:picture:kestrin-window.bmp" \
      --press "$shown:1022" \
      --press "$shown:1021" \
      --press "$request:1022" \
      --press "$stop:1023" \
      --picture kestrin-window-following.bmp \
      --record-dir rec \
      --texts texts.txt --log host.log \
      sample.ts); then
  echo "kestrin-host failed; its log:"
  cat "$demo/host.log"
  exit 1
fi
# The host's conversation with the plug-in.
grep -E 'LoadLibrary|SetHost|CreatePluginWindow|OnChannelChange|press|WM_RECORD_REQUEST|TuneChannel|PluginClosed|stream thread done|released' \
  "$demo/host.log" | sed 's/^/  /'

step "5/5 What the viewer showed"
cat "$demo/texts.txt"
for picture in kestrin-window kestrin-window-following; do
  if [ -f "$demo/$picture.bmp" ]; then
    convert "$demo/$picture.bmp" "$demo/$picture.png"
    rm -f "$demo/$picture.bmp"
    echo "picture: build/demo/$picture.png ($(identify -format '%wx%h' "$demo/$picture.png"))"
  fi
done

echo
echo "The plug-in's recording of the one-segment service:"
shopt -s nullglob
recordings=("$demo"/rec/*.ts)
if [ ${#recordings[@]} -eq 0 ]; then
  echo "  none: the recording did not start"
  exit 1
fi
for f in "${recordings[@]}"; do
  size=$(stat -c %s "$f")
  echo "  build/demo/rec/$(basename "$f"): $size bytes, $((size / 188)) packets," \
       "size % 188 = $((size % 188))$([ $((size % 188)) -eq 0 ] && echo ' (whole packets)')"
  if command -v ffprobe >/dev/null; then
    # The programmes of the PAT (those with a PMT PID; ffprobe also lists
    # the SDT's services, with PMT PID 0) and their streams.
    echo "  ffprobe: programmes and streams"
    ffprobe -v quiet -show_entries program=program_num,pmt_pid,pcr_pid:stream=index,id,codec_type,codec_name \
      -of compact "$f" | sed 's/|stream|/\nstream|/g' | awk '
        /^program/ { show = ($0 !~ /pmt_pid=0(\||$)/); if (show) print "    " $0; next }
        /^stream/ && show { print "      " $0 }' | sed 's/|$//'
    echo "    (programme 1416 = 0x0588 with its PMT on PID 8136 = 0x1FC8: the plug-in rewrote the"
    echo "    PAT to the one-segment programme alone; the full-segment programmes' packets are not recorded)"
  fi
  [ $((size % 188)) -eq 0 ] || exit 1
done
echo
echo "Done. Everything is in build/demo/."
