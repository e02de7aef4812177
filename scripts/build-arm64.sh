#!/usr/bin/env bash
# Cross-builds the core libraries and the command-line tool (with the GPIO cable) as
# static 64-bit ARM Linux programs with Debian's aarch64 cross compiler, into
# build-arm64/ (or $ORBVEX_ARM64_BUILD_DIR); then, where qemu-aarch64 is installed,
# runs the tool under emulation for a whole session on the virtual receiver (START,
# erase, write a random 2 MB image, read it back) and compares the bytes.
# Quiet unless it fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBVEX_ARM64_BUILD_DIR:-$root/build-arm64}
jobs=${ORBVEX_JOBS:-2}
# shellcheck source=cross-build.sh
source "$root/scripts/cross-build.sh"

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

if ! command -v qemu-aarch64 >/dev/null; then
  echo "64-bit ARM build: qemu-aarch64 is not installed, the emulated session is skipped"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((2 * 1024 * 1024)) /dev/urandom >"$work/image.rom"
started=$SECONDS
if ! qemu-aarch64 "$cli" --virtual --flash 2M start erase write "$work/image.rom" read "$work/back.bin" \
    >"$work/session.log" 2>&1; then
  tail -n 20 "$work/session.log" >&2
  fail "the session under qemu-aarch64 failed"
fi
cmp -s "$work/image.rom" "$work/back.bin" || fail "the image read back under qemu-aarch64 differs from the one written"
echo "64-bit ARM build: 2 MB written and read back under qemu-aarch64 in $((SECONDS - started)) s"
