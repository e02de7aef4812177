#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Every test: installs what is missing, builds with warnings as errors, runs the whole
# suite through CTest, runs the test programs again built with the address and
# undefined-behaviour sanitizers (scripts/test-sanitizers.sh), makes the Debian package
# and checks it unpacked (scripts/package-linux.sh), then
# cross-builds the 32-bit Windows programs and runs their tests under Wine, and the
# 64-bit ARM command-line tool and its package, which run a whole session on the virtual
# receiver under emulation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DORBVEX_WERROR=ON
build=${ORBVEX_BUILD_DIR:-$root/build}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)"
"$root/scripts/test-sanitizers.sh"
"$root/scripts/package-linux.sh"
if [ -x "$root/scripts/build-windows.sh" ]; then
  "$root/scripts/build-windows.sh"
fi
"$root/scripts/build-arm64.sh"
