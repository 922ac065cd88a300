#!/usr/bin/env bash
# Installs what building and testing Kestrin needs on a Debian 12 machine.
# Idempotent: every step checks first and does nothing when the tool is there.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  rm -f /var/lib/apt/periodic/kestrin-updated
fi

pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev lld llvm
      mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
      g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
      wine wine32:i386 wine64 xvfb xauth fonts-ipafont-gothic fonts-ipafont-mincho
      googletest libgtest-dev libgmock-dev libbenchmark-dev
      libaribb24-dev libdvbpsi-dev ffmpeg pkg-config imagemagick locales
      nlohmann-json3-dev tzdata)
# The core as 32-bit Linux programs (the i386 preset): gcc -m32 with the
# static 32-bit C and C++ libraries, run under qemu-i386 user-mode emulation.
pkgs+=(gcc-multilib g++-multilib libc6-dev-i386 qemu-user)
# kestrin-info's XMLTV is validated with xmllint against the XMLTV DTD
# (/usr/share/xmltv/xmltv.dtd).
pkgs+=(libxml2-utils xmltv-util)
for p in "${pkgs[@]}"; do have_pkg "$p" || need+=("$p"); done

if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# The Wine tests run with LANG=ja_JP.UTF-8 so that the ANSI code page is 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi

# Node and npm for the EPG peer: Debian's, unless the machine has a Node
# already (one that bundles npm conflicts with Debian's npm package).
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends nodejs npm
fi

# The EPG peer of the differential test and the benchmark: the npm package
# mirakurun 2.15.2 (its dump command), installed without its install scripts
# into tools/peers/ beside the sources, run with Debian's Node.
peers="$(cd "$(dirname "$0")/.." && pwd)/tools/peers"
if ! grep -qs '"version": "2.15.2"' "$peers/node_modules/mirakurun/package.json"; then
  mkdir -p "$peers"
  npm install --ignore-scripts --no-audit --no-fund --loglevel=error --prefix "$peers" mirakurun@2.15.2 >/dev/null
fi
