#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Every test: installs what is missing, checks that every tracked C and C++ file is laid
# out as .clang-format says, builds with warnings as errors, runs the whole suite through
# CTest (the only run of the tests labelled slow), runs the test programs again built
# with the address and undefined-behaviour sanitizers (scripts/test-sanitizers.sh),
# skipping those, makes the Debian package
# and checks it unpacked (scripts/package-linux.sh), then
# cross-builds the 32-bit Windows programs and runs their tests under Wine, and the
# 64-bit ARM command-line tool and its package, which run a whole session on the virtual
# receiver under emulation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror) ||
    { echo "test.sh: files above are not laid out as .clang-format says (clang-format -i them)" >&2; exit 1; }
fi
# Without debug information, which nobody reads here and which costs a quarter of the
# compile; the package made below carries none either.
export ORBVEX_BUILD_TYPE=${ORBVEX_BUILD_TYPE:-Release}
SECONDS=0
"$root/scripts/build.sh" -DORBVEX_WERROR=ON
echo "native build: ${SECONDS} s" >&2
build=${ORBVEX_BUILD_DIR:-$root/build}
export QT_QPA_PLATFORM=offscreen
SECONDS=0
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)"
echo "native tests: ${SECONDS} s" >&2
"$root/scripts/test-sanitizers.sh"
"$root/scripts/package-linux.sh"
if [ -x "$root/scripts/build-windows.sh" ]; then
  "$root/scripts/build-windows.sh"
fi
"$root/scripts/build-arm64.sh"
