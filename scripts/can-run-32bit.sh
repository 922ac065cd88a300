#!/usr/bin/env bash
# Exit status 0 when this machine can run 32-bit x86 programs, so 32-bit
# Wine can start; 1 when it cannot (a 64-bit kernel built or booted without
# IA-32 emulation answers every i386 program with "Exec format error").
# The probe is Wine's own 32-bit loader: the program the tests would need.
set -u
loader=/usr/lib/wine/wine
[ -x "$loader" ] || exit 1
if "$loader" --version >/dev/null 2>&1; then exit 0; fi
exit 1
