#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-builds the 32-bit Windows programs (the Win32 window on the real port and on
# the virtual receiver, the command-line tool, the port driver kqiopm.sys, the test
# programs) with Debian's MinGW-w64, into build-windows/ (or $ORBVEX_WINDOWS_BUILD_DIR),
# then runs them under Wine: every test program through CTest on a display of their own
# (Xvfb), and the command-line tool on the virtual receiver, on a port it cannot open,
# and on LPT1 through a stand-in InpOut32. Quiet unless it fails, but for the time of
# each part.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBVEX_WINDOWS_BUILD_DIR:-$root/build-windows}
jobs=${ORBVEX_JOBS:-2}
# shellcheck source=cross-build.sh
source "$root/scripts/cross-build.sh"

SECONDS=0
cross_build "the 32-bit Windows build" mingw-i686.cmake -DORBVEX_BUILD_APP=OFF -DORBVEX_BUILD_BENCH=OFF

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

# True when the file is a PE32 (32-bit x86) program for the subsystem given: 2 a GUI
# program, 3 a console program.
is_pe32() {
  local exe=$1 subsystem=$2 pe
  [ "$(read_le "$exe" 0 2)" -eq $((0x5A4D)) ] || return 1           # "MZ"
  pe=$(read_le "$exe" $((0x3C)) 4)
  [ "$(read_le "$exe" "$pe" 4)" -eq $((0x4550)) ] || return 1        # "PE\0\0"
  [ "$(read_le "$exe" $((pe + 4)) 2)" -eq $((0x14C)) ] || return 1   # i386
  [ "$(read_le "$exe" $((pe + 24)) 2)" -eq $((0x10B)) ] || return 1  # PE32 header
  [ "$(read_le "$exe" $((pe + 24 + 68)) 2)" -eq "$subsystem" ]       # subsystem
}

# True when the program carries, as its manifest resource (type 24, id 1), the request
# for version 6 of the common controls.
has_common_controls_manifest() {
  i686-w64-mingw32-objdump -p "$1" | grep -A2 'Type Table' | grep -q 'Entry: ID: 0x000018' &&
    grep -aq 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$1"
}

# The driver: a 32-bit image of the native subsystem that imports from the kernel alone.
driver=$build/bin/kqiopm.sys
[ -f "$driver" ] || fail "$driver was not built"
is_pe32 "$driver" 1 || fail "$driver is not a 32-bit native (kernel-mode) image"
[ "$(i686-w64-mingw32-objdump -p "$driver" | grep 'DLL Name:' | sort -u | awk '{print $3}')" = ntoskrnl.exe ] ||
  fail "$driver imports from more than ntoskrnl.exe"

for window in orbvex_up orbvex_up_virtual; do
  exe=$build/bin/$window.exe
  [ -f "$exe" ] || fail "$exe was not built"
  is_pe32 "$exe" 2 || fail "$exe is not a 32-bit Windows GUI program"
  has_common_controls_manifest "$exe" || fail "$exe carries no common-controls manifest"
done
cli=$build/bin/orbvex_cli.exe
if [ -f "$cli" ]; then
  is_pe32 "$cli" 3 || fail "$cli is not a 32-bit Windows console program"
  echo "Windows build: $cli, orbvex_up.exe, orbvex_up_virtual.exe"
elif compgen -G "$root/cli/*.cpp" >/dev/null; then
  fail "the command-line tool's sources are there but $cli was not built"
else
  echo "Windows build: done (no command-line tool in this tree yet)"
fi
echo "Windows build: ${SECONDS}s"

command -v wine >/dev/null || fail "Wine is missing (scripts/install-deps.sh installs it): nothing was run"
wine_run=$root/scripts/wine-run.sh

# Test discovery during the build ran Wine with no display. That Wine session ends
# first; the tests' own starts on their display (the window test needs one) with
# wineboot, whose server and system processes then hold no test's output open (CTest
# would wait for them), and it ends before the display goes. The server is kept up
# for the whole run: one that shuts down between two tests races the next test's
# start, which then fails before its first line. The tests labelled slow (whole-flash
# sessions) ran natively already.
# A test that fails is run once more on its own; one that passes then is named as
# failing only under Wine's load, with its first output, and does not fail the build.
# Whole sessions over loopback bit-bang are left out too: under Wine every wait on a
# socket is a trip through the Wine server, so one START takes minutes. They ran
# natively; the socket code they share is run here by the other remote tests (refused,
# dropped and silent peers, Ctrl-C) and by the remote client's own.
skip='CliRemote\.(StartPrintsExactly|ATrapProgramFailureStops|ALinkLostRightAfter)'
SECONDS=0
export ORBVEX_WINEPREFIX=${ORBVEX_WINEPREFIX:-$build/wine-prefix}
WINEPREFIX=$ORBVEX_WINEPREFIX wineserver --kill 2>/dev/null || true
if ! xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    WINEPREFIX=$ORBVEX_WINEPREFIX wineserver --persistent
    "$3" wineboot </dev/null >/dev/null 2>&1
    ctest --test-dir "$1" --parallel "$2" --output-on-failure -LE slow -E "$4"; status=$?
    if [ $status -ne 0 ]; then
      echo "=== failed tests, run again one by one ==="
      ctest --test-dir "$1" --rerun-failed --output-on-failure -LE slow -E "$4"; status=$?
    fi
    WINEPREFIX=$ORBVEX_WINEPREFIX wineserver --kill; exit $status' sh "$build" "$jobs" "$wine_run" "$skip" \
    >"$build/ctest.log" 2>&1; then
  sed -n '/\*\*\*Failed\|\*\*\*Exception\|\*\*\*Timeout/,/^ *Start /p' "$build/ctest.log" | head -300 >&2
  grep -E '^[0-9]+% tests passed' "$build/ctest.log" >&2 || true
  fail "Windows tests failed under Wine (whole log: $build/ctest.log)"
fi
if grep -q '^=== failed tests, run again' "$build/ctest.log"; then
  echo "Windows tests under Wine: these failed once and passed when run again on their own:" >&2
  sed -n '/\*\*\*Failed\|\*\*\*Exception\|\*\*\*Timeout/,/^ *Start /p' "$build/ctest.log" | head -200 >&2
fi
echo "Windows tests under Wine: $(grep -E '^[0-9]+% tests passed' "$build/ctest.log" | paste -sd ';' -), ${SECONDS}s"

# The tool itself, as a user runs it: a 256 KB image through erase, write and read on
# the virtual receiver comes back byte for byte; a port that cannot be opened (no
# port driver under Wine) is a plain failure, not a crash.
if [ -f "$cli" ]; then
  SECONDS=0
  work=$build/cli-check
  rm -rf "$work" && mkdir -p "$work"
  head -c $((256 * 1024)) /dev/urandom >"$work/image.rom"
  (cd "$work" && "$wine_run" "$cli" --virtual --flash 2M start erase write image.rom read back.bin) \
    >"$work/virtual.out" 2>"$work/virtual.err" || fail "orbvex_cli.exe on the virtual receiver failed: $(cat "$work/virtual.err")"
  holds_image "$work/image.rom" "$work/back.bin" || fail "orbvex_cli.exe read back other bytes than it wrote ($work)"
  status=0
  (cd "$work" && "$wine_run" "$cli" --port lpt1 start) >"$work/port.out" 2>"$work/port.err" || status=$?
  [ "$status" -eq 1 ] && grep -q "could not be opened" "$work/port.err" ||
    fail "orbvex_cli.exe --port lpt1 start: status $status, \"$(cat "$work/port.err")\" (wanted 1 and a plain reason)"
  echo "Windows tool under Wine: 256 KB of a 2 MB flash: erase, write, read back identical; no port: \"$(head -n 1 "$work/port.err")\", ${SECONDS}s"

  # As a user of 64-bit Windows has it: the zip's programs and driver, with inpout32.dll
  # beside them (here a stand-in holding a virtual receiver behind LPT1). The driver
  # loads but may not open ports, so the tool goes on to InpOut32.
  SECONDS=0
  lpt=$build/cli-inpout32
  rm -rf "$lpt" && mkdir -p "$lpt"
  cp "$cli" "$driver" "$build/bin/trap.bin" "$build/standin/inpout32.dll" "$lpt/"
  head -c $((1024 * 1024)) /dev/urandom >"$lpt/image.rom"
  (cd "$lpt" && "$wine_run" ./orbvex_cli.exe --port lpt1 start erase write image.rom read back.bin) >"$lpt/out" 2>"$lpt/err" || fail "orbvex_cli.exe --port lpt1 through InpOut32 failed: $(cat "$lpt/err")"
  tr -d '\r' <"$lpt/out" | grep -qx "Init OK :)" || fail "orbvex_cli.exe --port lpt1 through InpOut32 did not reach \"Init OK :)\" ($lpt/out)"
  grep -q "through InpOut32" "$lpt/err" || fail "orbvex_cli.exe did not say it used InpOut32 ($lpt/err)"
  cmp -s "$lpt/image.rom" "$lpt/back.bin" || fail "orbvex_cli.exe through InpOut32 read back other bytes than it wrote ($lpt)"
  echo "Windows tool under Wine on LPT1 through InpOut32: Init OK, 1 MB erase, write, read back identical, ${SECONDS}s"
  # The probe board on a COM port: the simulated board of the native build (when it has
  # one) behind COM7, which Wine maps to the board's pseudo-terminal; a fresh board for
  # each program. A write (on the board's erased flash) comes back identical through the
  # tool, and the window (on a display of its own) runs START and a write through it.
  # Wine's serial line is slow (a second of it carries about a tenth of the board's
  # time), so the erase, run natively, is left out here.
  board=${ORBVEX_BUILD_DIR:-$root/build}/bin/orbvex_probe_sim
  if [ -x "$board" ]; then
    SECONDS=0
    com=$build/cli-probe
    rm -rf "$com" && mkdir -p "$com"
    cp "$cli" "$build/bin/trap.bin" "$com/"
    head -c 8192 /dev/urandom >"$com/image.rom"
    # Runs the command given with a fresh simulated board behind COM7; its status.
    on_board_at_com7() {
      "$board" >"$com/board.out" 2>"$com/board.err" &
      local board_pid=$! status=0
      for _ in $(seq 50); do [ -s "$com/board.out" ] && break; sleep 0.1; done
      ln -sfn "$(head -n 1 "$com/board.out")" "$ORBVEX_WINEPREFIX/dosdevices/com7"
      "$@" || status=$?
      kill "$board_pid" 2>/dev/null || true
      wait "$board_pid" 2>/dev/null || true
      rm -f "$ORBVEX_WINEPREFIX/dosdevices/com7" "$com/board.out"
      return "$status"
    }
    on_board_at_com7 sh -c 'cd "$1" && "$2" ./orbvex_cli.exe --probe COM7 start write image.rom verify image.rom' \
      sh "$com" "$wine_run" >"$com/out" 2>"$com/err" ||
      fail "orbvex_cli.exe --probe COM7 on the simulated board failed: $(cat "$com/err")"
    on_board_at_com7 env ORBVEX_TEST_PROBE_PORT=COM7 xvfb-run -a -s "-screen 0 1024x768x24" \
      "$wine_run" "$build/bin/test_win32.exe" --gtest_filter='*ProbeBoardOnACOMPort' >"$com/window.out" 2>&1 ||
      fail "the window on the simulated board at COM7 failed under Wine: $(tail -n 30 "$com/window.out")"
    grep -q '^\[  PASSED  \] 1 test' "$com/window.out" ||
      fail "the window's test on the board at COM7 did not run ($com/window.out)"
    echo "Windows tool and window under Wine on the probe board at COM7: 8 KB write, verify; START and a write, ${SECONDS}s"
  fi
fi
