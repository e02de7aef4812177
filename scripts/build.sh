#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Configures and builds the native tree into build/ (or $ORBVEX_BUILD_DIR). Arguments of
# the form -DNAME=VALUE go to the configuration (kept for later builds of the same tree);
# the others name the targets to build (and what they need). No target: everything.
# $ORBVEX_BUILD_TYPE sets the build type (RelWithDebInfo unless told; CI uses Release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBVEX_BUILD_DIR:-$root/build}
settings=()
targets=()
for arg in "$@"; do
  case $arg in
    -D*) settings+=("$arg") ;;
    *) targets+=("$arg") ;;
  esac
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${ORBVEX_BUILD_TYPE:-RelWithDebInfo}" "${settings[@]}" >/dev/null
[ ${#targets[@]} -eq 0 ] || targets=(--target "${targets[@]}")
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
