; SPDX-License-Identifier: GPL-2.0-or-later
; A trap that reports every command done, late, and touches no flash: after each new
; command it counts down the mailbox word at +0x14 (which the host never writes, so a
; test sets it) and then sets the done bit. Seven instructions per count.
.include "../../trap/mailbox.inc"
.equ COMMAND, MB_COMMAND / 4
.equ DELAY, MB_SIGNATURE / 4
.equ LEFT, MB_SIGNATURE_INFO / 4
        ldc 0
        stl COMMAND
idle:   ldl COMMAND
        cj idle         ; no command
        ldl COMMAND
        ldc DONE_BIT
        and
        eqc 0
        cj idle         ; already done
        ldl DELAY
        stl LEFT
wait:   ldl LEFT
        cj finish
        ldl LEFT
        adc -1
        stl LEFT
        j wait
finish: ldl COMMAND
        ldc DONE_BIT
        or
        stl COMMAND
        j idle
