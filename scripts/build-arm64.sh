#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-builds the core libraries and the command-line tool (with the GPIO cable) as
# static 64-bit ARM Linux programs with Debian's aarch64 cross compiler, into
# build-arm64/ (or $ORBVEX_ARM64_BUILD_DIR), and packs them for 64-bit Raspberry Pi OS
# (build-arm64/package/orbvex-up-cli_VERSION_arm64.deb); then, where qemu-aarch64 is
# installed, runs the tool under emulation for a whole session on the virtual receiver
# (START, erase a 2 MB flash, write a random 256 KB image, read it back) and compares the bytes, and
# checks the package unpacked as scripts/package-linux.sh does (scripts/deb-check.sh).
# Quiet unless it fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBVEX_ARM64_BUILD_DIR:-$root/build-arm64}
jobs=${ORBVEX_JOBS:-2}
# shellcheck source=cross-build.sh
source "$root/scripts/cross-build.sh"
# shellcheck source=deb-check.sh
source "$root/scripts/deb-check.sh"

cross_build "the 64-bit ARM build" aarch64-linux.cmake -DORBVEX_BUILD_APP=OFF -DORBVEX_BUILD_TESTS=OFF -DORBVEX_BUILD_BENCH=OFF

# True when the file is a 64-bit little-endian ELF program for aarch64 (machine 183).
is_aarch64_elf() {
  local header
  header=$(od -An -tu1 -N 20 "$1" | tr -s ' \n' ' ')
  read -r -a bytes <<<"$header"
  [ "${bytes[0]}" -eq 127 ] && [ "${bytes[1]}" -eq 69 ] && [ "${bytes[2]}" -eq 76 ] && [ "${bytes[3]}" -eq 70 ] &&
    [ "${bytes[4]}" -eq 2 ] && [ "${bytes[5]}" -eq 1 ] && [ "${bytes[18]}" -eq 183 ] && [ "${bytes[19]}" -eq 0 ]
}

cli=$build/bin/orbvex_cli
[ -f "$cli" ] || fail "$cli was not built"
is_aarch64_elf "$cli" || fail "$cli is not a 64-bit ARM program"
echo "64-bit ARM build: $cli"

rm -f "$build/package"/*.deb
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >"$build/cpack.log" 2>&1 ||
  { tail -n 20 "$build/cpack.log" >&2; fail "CPack failed (whole log: $build/cpack.log)"; }
debs=("$build/package"/orbvex-up-cli_*_arm64.deb)
[ -f "${debs[0]}" ] || fail "CPack made no arm64 package in $build/package"
echo "64-bit ARM package: ${debs[0]}"

if ! command -v qemu-aarch64 >/dev/null; then
  echo "64-bit ARM build: qemu-aarch64 is not installed, the emulated session is skipped"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((256 * 1024)) /dev/urandom >"$work/image.rom"
started=$SECONDS
if ! qemu-aarch64 "$cli" --virtual --flash 2M start erase write "$work/image.rom" read "$work/back.bin" \
    >"$work/session.log" 2>&1; then
  tail -n 20 "$work/session.log" >&2
  fail "the session under qemu-aarch64 failed"
fi
holds_image "$work/image.rom" "$work/back.bin" || fail "the image read back under qemu-aarch64 differs from the one written"
echo "64-bit ARM build: 256 KB written and read back under qemu-aarch64 in $((SECONDS - started)) s"
started=$SECONDS
check_deb "${debs[0]}" "$build/deb-check" qemu-aarch64
echo "64-bit ARM package: checked under qemu-aarch64 in $((SECONDS - started)) s"
