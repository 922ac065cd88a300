#!/usr/bin/env bash
# Runs a Windows program under Wine on a virtual display, with the Japanese
# locale so that the ANSI code page is 932. Used by ctest as the cross
# builds' emulator.
#
#   wine-run.sh [--win64] PROGRAM [ARGS...]
#
# Without --win64 the program is a 32-bit one and runs in a 32-bit prefix
# (32-bit Wine). With --win64 it is a 64-bit one and runs under 64-bit Wine
# in a prefix of its own: that build stands in on kernels that run no 32-bit
# program (scripts/can-run-32bit.sh).
set -euo pipefail
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
if [ "${1:-}" = "--win64" ]; then
  shift
  export WINEARCH=win64
  export WINEPREFIX=${KESTRIN_WINEPREFIX64:-${HOME:-/tmp}/.wine-kestrin64}
  # Debian's wine command starts 32-bit Wine whenever it is installed, even
  # where the kernel cannot run it: name the 64-bit loader itself.
  export WINELOADER=/usr/lib/wine/wine64
  wine=$WINELOADER
else
  export WINEARCH=win32
  export WINEPREFIX=${WINEPREFIX:-${HOME:-/tmp}/.wine-kestrin}
  wine=wine
fi
# Several tests may start Wine at once: one of them prepares the prefix.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
# The marker names the version of this setup: a new step gets a new name.
if [ ! -f "$WINEPREFIX/.kestrin-ready-3" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || true
  # Windows not managed by an X window manager: there is none on the
  # virtual display, and Wine would wait two seconds for it at every hide.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  # A crashing program gets its backtrace written to the console and ends,
  # instead of waiting for someone to close the crash dialog.
  "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
  wineserver -w || true
  touch "$WINEPREFIX/.kestrin-ready-3"
fi
flock -u 9
exec 9>&-
run=("$wine" "$@")
if [ -z "${DISPLAY:-}" ]; then
  run=(xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}")
fi
# A program that crashes must fail, whatever exit code Wine hands back: a
# fault inside a window procedure, reported by Wine's debugger, has been seen
# to end the process with 0. Standard error passes through a scan for Wine's
# crash report; standard output goes straight through.
set +e
exec 3>&1
"${run[@]}" 2>&1 1>&3 3>&- |
  awk '{ print; fflush() } /^wine: Unhandled |^Unhandled exception: / { crashed = 1 } END { exit crashed }' >&2
status=("${PIPESTATUS[@]}")
exec 3>&-
set -e
if [ "${status[0]}" -ne 0 ]; then exit "${status[0]}"; fi
if [ "${status[1]}" -ne 0 ]; then
  echo "wine-run.sh: the program crashed (Wine's crash report above) but ended with 0: failing it" >&2
  exit 70
fi
exit 0
