# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the cross-build scripts, after they set root, build and jobs: the quiet
# configure-and-build of a tree for another system, and what that needs from this one.

# shellcheck source=image-check.sh
source "$root/scripts/image-check.sh"

fail() {
  echo "$(basename "$0" .sh): $*" >&2
  exit 1
}

# Programs the build runs to make its data files must run here, so they come from a
# build for this machine: the native tree when there is one, else a small tree of
# their own. A cross build without an emulator finds them on PATH by name.
host_tools=()
for tool in orbvex_st20asm; do
  grep -qs "add_executable($tool " "$root"/*/CMakeLists.txt && host_tools+=("$tool")
done
build_host_tools() {
  [ ${#host_tools[@]} -eq 0 ] && return 0
  local host=${ORBVEX_BUILD_DIR:-$root/build}
  if [ ! -f "$host/CMakeCache.txt" ]; then
    host=$build/host-tools
    cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DORBVEX_BUILD_APP=OFF -DORBVEX_BUILD_TESTS=OFF -DORBVEX_BUILD_BENCH=OFF || return 1
  fi
  cmake --build "$host" --parallel "$jobs" --target "${host_tools[@]}" || return 1
  PATH="$host/bin:$PATH"
}

# cross_build WHAT TOOLCHAIN [CMAKE-ARGS...]: configures and builds $build with the
# toolchain file of cmake/, warnings as errors as in the native tree, its output in
# $build/build.log, shown only when it fails.
cross_build() {
  local what=$1 toolchain=$2
  shift 2
  mkdir -p "$build"
  local log=$build/build.log
  if ! {
    build_host_tools &&
      cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DORBVEX_WERROR=ON "$@" &&
      cmake --build "$build" --parallel "$jobs"
  } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "$what failed (whole log: $log)"
  fi
}
