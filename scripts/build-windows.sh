#!/usr/bin/env bash
# Cross-builds everything but the window as 32-bit Windows programs (port, link, ops,
# the virtual receiver, the command-line tool, the core test programs) with Debian's
# MinGW-w64, into build-windows/ (or $ORBVEX_WINDOWS_BUILD_DIR). Quiet unless it fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBVEX_WINDOWS_BUILD_DIR:-$root/build-windows}
jobs=${ORBVEX_JOBS:-2}
log=$build/build.log
mkdir -p "$build"

fail() {
  echo "build-windows: $*" >&2
  exit 1
}

# shellcheck source=host-tools.sh
source "$root/scripts/host-tools.sh"

if ! {
  build_host_tools &&
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DORBVEX_BUILD_APP=OFF -DORBVEX_BUILD_BENCH=OFF &&
    cmake --build "$build" --parallel "$jobs"
} >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  fail "the 32-bit Windows build failed (whole log: $log)"
fi

# Reads n little-endian bytes at offset of a file as a number.
read_le() {
  local bytes
  bytes=$(od -An -tu1 -j "$2" -N "$3" "$1" | tr -s ' \n' ' ')
  local value=0 shift=0 b
  for b in $bytes; do
    value=$((value | (b << shift)))
    shift=$((shift + 8))
  done
  echo "$value"
}

# True when the file is a PE32 (32-bit x86) console program.
is_pe32_console() {
  local exe=$1 pe
  [ "$(read_le "$exe" 0 2)" -eq $((0x5A4D)) ] || return 1           # "MZ"
  pe=$(read_le "$exe" $((0x3C)) 4)
  [ "$(read_le "$exe" "$pe" 4)" -eq $((0x4550)) ] || return 1        # "PE\0\0"
  [ "$(read_le "$exe" $((pe + 4)) 2)" -eq $((0x14C)) ] || return 1   # i386
  [ "$(read_le "$exe" $((pe + 24)) 2)" -eq $((0x10B)) ] || return 1  # PE32 header
  [ "$(read_le "$exe" $((pe + 24 + 68)) 2)" -eq 3 ]                  # console subsystem
}

cli=$build/bin/orbvex_cli.exe
if [ -f "$cli" ]; then
  is_pe32_console "$cli" || fail "$cli is not a 32-bit Windows console program"
  echo "Windows build: $cli"
elif compgen -G "$root/cli/*.cpp" >/dev/null; then
  fail "the command-line tool's sources are there but $cli was not built"
else
  echo "Windows build: done (no command-line tool in this tree yet)"
fi
