#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Makes the Debian package of the native build with CPack: orbvex-up_VERSION_ARCH.deb in
# build/package/ (or $ORBVEX_BUILD_DIR/package/), with the windows, the command-line tool,
# the served receiver, the virtual receiver's trap image, menu entries, icons and manual
# pages, its dependencies read from the programs' libraries. The tree is built first
# where it is not up to date (an up-to-date tree is only packed). The package is then
# checked as a user gets it (scripts/deb-check.sh): unpacked into a scratch root, its
# orbvex_cli writes and reads back an image on the virtual receiver. Prints the
# package's path last.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBVEX_BUILD_DIR:-$root/build}
fail() {
  echo "$(basename "$0" .sh): $*" >&2
  exit 1
}
# shellcheck source=deb-check.sh
source "$root/scripts/deb-check.sh"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
SECONDS=0
out=$build/package
rm -f "$out"/*.deb
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$build/cpack.log" 2>&1 ||
  { tail -n 20 "$build/cpack.log" >&2; fail "CPack failed (whole log: $build/cpack.log)"; }
debs=("$out"/orbvex-up_*.deb)
[ -f "${debs[0]}" ] || fail "CPack made no orbvex-up package in $out"
echo "Debian package: made in ${SECONDS}s"
SECONDS=0
check_deb "${debs[0]}" "$build/deb-check"
echo "Debian package: checked in ${SECONDS}s"
echo "${debs[0]}"
