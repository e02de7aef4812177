#!/usr/bin/env bash
# Configures and builds the native tree into build/ (or $ORBVEX_BUILD_DIR): the targets
# named as arguments (and what they need), or everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBVEX_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
[ $# -eq 0 ] || targets=(--target "$@")
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
