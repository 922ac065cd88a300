#!/usr/bin/env bash
# Runs a Windows program under 32-bit Wine on a virtual display, with the
# Japanese locale so that the ANSI code page is 932. Used by ctest as the
# cross build's emulator.
set -euo pipefail
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win32
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-kestrin}
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
if [ ! -d "$WINEPREFIX" ]; then
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
if [ -n "${DISPLAY:-}" ]; then
  exec wine "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$@"
