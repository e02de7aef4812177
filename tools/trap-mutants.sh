#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Puts hand-made faults into trap/trap.s one at a time, rebuilds the trap and runs the
# tests that drive it at the mailbox; each mutant must make them fail. Reports each
# mutant as CAUGHT (with the first failing test) or MISSED, and exits 1 when one is
# missed. trap.s is put back whatever happens.
#
#   tools/trap-mutants.sh [BUILD_DIR] [NAME...]     (build dir: build; names: all)
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
[ $# -gt 0 ] && shift
TRAP=$ROOT/trap/trap.s
SAVED=$(mktemp)
cp "$TRAP" "$SAVED"
restore() { cp "$SAVED" "$TRAP"; rm -f "$SAVED"; }
trap restore EXIT INT TERM

# name | perl substitution on the whole file (-0: patterns may span lines)
MUTANTS='
operand-order|s/(crc_aligned:\n\s+)ldc     4[^\n]*\n(\s+)ldl     CN\n/$1ldl     CN\n$2ldc     4\n/
off-by-one-count|s/(ldl     CNT\n\s+ldl     I\n\s+)adc     1(\n\s+gt\n\s+cj      program_merge)/${1}adc     2$2/
dq7-reread-dropped|s/(amd_wait_busy\n)\s+ldl     PA\n\s+devls\n\s+ldl     DATA\n\s+xor\n\s+ldc     0x80\n\s+and\n\s+cj      amd_wait_done\n/$1/
wrong-unlock-address|s/\.equ U2, 0x554/.equ U2, 0x556/
odd-byte-merge-skipped|s/ldl     CUR\n(\s+)ldc     0xFF00\n(\s+)and\n/ldc     0xFF00\n/
region-order|s/(boot_reverse:[^\n]*\n)/$1        j       boot_order_end\n/
reset-before-query-dropped|s/(identify_chip:(?:\n.*){7}\n)\s+call    reset_chip\n/$1/
polling-limit-1|s/(amd_wait:\n\s+ajw     4\n\s+ldtimer\n\s+)ldl     LIMIT/${1}ldc     1/
crc-table-entry|s/(crc_table_stored:\n\s+ldl     CRC\n)/$1        ldl     K\n        eqc     77\n        xor\n/
checksum-count-minus-1|s/(crc:\n(?:.*\n){4}\s+ldl     CNT\n)/${1}        adc     -1\n/
second-reset-dropped|s/(reset_chip:\n\s+ajw     4\n)\s+ldc     0xF0\n\s+ldl     BASE\n\s+devss\n/$1/
blank-half-word|s/(blank_word:\n\s+ldl     CP\n\s+devlw\n)/${1}        ldc     0xFFFF\n        or\n/
window-reset-dropped|s/(call    chip_range\n)\s+call    reset_chip\n(window_range_end)/$1$2/
time-limit-never|s/(amd_wait_busy:\n\s+ldc     0[^\n]*\n\s+ldl     DL\n\s+ldtimer\n\s+diff\n\s+gt\n\s+)cj      amd_wait_poll/${1}j       amd_wait_poll/
'

FILTER='EveryChip/*:TrapTimeLimits.*'
printf "%s\n" "$MUTANTS" | while IFS='|' read -r name expr; do
    [ -n "$name" ] || continue
    if [ $# -gt 0 ] && ! echo " $* " | grep -q " $name "; then continue; fi
    cp "$SAVED" "$TRAP"
    perl -0pi -e "$expr" "$TRAP"
    if cmp -s "$SAVED" "$TRAP"; then
        echo "$name: NOT APPLIED (its pattern no longer matches trap.s)"
        touch "$SAVED.missed"
        continue
    fi
    if ! cmake --build "$BUILD" --target orbvex_trap >/dev/null 2>&1; then
        echo "$name: CAUGHT by the assembler"
        continue
    fi
    log=$(timeout 600 "$BUILD/bin/test_sim" --gtest_filter="$FILTER" --gtest_brief=1 2>&1)
    failed=$(echo "$log" | sed -n 's/^\[  FAILED  \] \([^ ,]*\).*/\1/p' | head -n 1)
    if [ -n "$failed" ]; then
        echo "$name: CAUGHT by $failed"
    elif echo "$log" | grep -q '^\[  PASSED  \]'; then
        echo "$name: MISSED"
        touch "$SAVED.missed"
    else
        echo "$name: CAUGHT (the tests did not finish)"
    fi
done
cp "$SAVED" "$TRAP"
cmake --build "$BUILD" --target orbvex_trap >/dev/null 2>&1
[ ! -e "$SAVED.missed" ] || { rm -f "$SAVED.missed"; exit 1; }
