#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs, from Debian's packages, whatever this machine still lacks to build,
# test and run the project. Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config clang-format
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  g++-mingw-w64-i686-posix
  libgpiod-dev libftdi1-dev
  g++-aarch64-linux-gnu qemu-user libgpiod-dev:arm64
  openocd
  gcc-avr avr-libc avrdude simavr libsimavr-dev
  help2man dpkg-dev lintian
  xvfb xauth x11-utils
  wine wine32:i386 fonts-wine fonts-liberation
)
packages+=("$@")  # what a script needs on top, e.g. for a screenshot

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
# The 32-bit Windows programs run under Wine, whose 32-bit loader is an i386 package.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# The 64-bit ARM build links Debian's arm64 libraries, installed beside the host's.
if [[ " ${missing[*]} " == *":arm64 "* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $sudo dpkg --add-architecture arm64
fi
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
# On a machine made for one run and thrown away (CI says so), dpkg need not sync each
# of the many thousand files it unpacks.
unsafe=()
[ -z "${ORBVEX_THROWAWAY_MACHINE:-}" ] || unsafe=(-o Dpkg::Options::=--force-unsafe-io)
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${unsafe[@]}" "${missing[@]}"
