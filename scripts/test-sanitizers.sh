#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the native tree once more with AddressSanitizer and UndefinedBehaviorSanitizer,
# into build-asan/ (or $ORBVEX_ASAN_BUILD_DIR), and runs its test programs: the suites
# that run in this process or against programs of the same tree over loopback (none
# needs Wine or an emulator; the windows' suites stay in the plain tree). The first
# error a sanitizer finds fails the run. Says at the end how long it took.
set -euo pipefail
SECONDS=0
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBVEX_ASAN_BUILD_DIR:-$root/build-asan}
# Three of the undefined-behaviour checks are left out, a third of the compile between
# them: AddressSanitizer already stops a null or out-of-object access (null,
# object-size), and the machines the tool runs on (x86, ARM64) take unaligned loads
# (alignment).
sanitize="-fsanitize=address,undefined -fno-sanitize=alignment,null,object-size -fno-sanitize-recover=undefined"
sanitize+=" -fno-omit-frame-pointer"
# -O1 and line tables only, as AddressSanitizer's documentation suggests: at -O2 with
# full debug information the two sanitizers take twice as long to compile.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -g1" \
  -DORBVEX_BUILD_BENCH=OFF -DORBVEX_BUILD_APP=OFF -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" -DCMAKE_SHARED_LINKER_FLAGS="$sanitize" \
  "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
export ASAN_OPTIONS=strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1
# A bound on a program's resident memory says nothing under the sanitizer, whose shadow
# memory and quarantine of freed blocks grow it by design: that test runs in the plain tree.
# So do the tests labelled slow, the whole-flash sessions, and the served receiver
# flashing every chip: they run the code the smaller sessions run, over more bytes or
# more programs, and would take most of the sanitizer's time.
skip='AbusiveClientsNeitherStopItNorGrowIt|FlashesEveryChipThroughIt'
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" -LE slow -E "$skip"
echo "sanitizer build and tests: ${SECONDS} s" >&2
