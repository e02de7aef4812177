# Sourced by the cross-build scripts, after they set root, build and jobs.
# Programs the build runs to make its data files must run here, so they come from a
# build for this machine: the native tree when there is one, else a small tree of
# their own. A cross build without an emulator finds them on PATH by name.
host_tools=()
for tool in sim_make_trap_image; do
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
