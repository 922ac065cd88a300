#!/usr/bin/env bash
# Makes the release package for 32-bit Windows from this tree:
#   dist/Kestrin-<version>-win32.zip         Kestrin.dll, kestrin-info.exe, the
#                                            settings example, the Japanese guide,
#                                            the licences and SHA256SUMS
#   dist/Kestrin-<version>-win32.zip.sha256
#   dist/Kestrin-<version>-win32-debug/      the two programs with their symbols
# The version is the file VERSION. It builds what it needs with the win32
# preset (mingw-w64 i686) and can be re-run; two runs on one commit give the
# same bytes (the zip's times are the commit's time, SOURCE_DATE_EPOCH).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || ! command -v python3 >/dev/null 2>&1; then
  bash scripts/bootstrap.sh
fi

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 315532800)
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "package.sh: the tree has uncommitted changes; the package is not that of a commit" >&2
fi

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target Kestrin kestrin-info

python3 scripts/make_package.py \
  --source . \
  --dll build/win32/win32/Kestrin.dll \
  --info build/win32/tools/kestrin-info.exe \
  --strip i686-w64-mingw32-strip \
  --out dist
