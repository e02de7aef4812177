; SPDX-License-Identifier: GPL-2.0-or-later
; A trap that reports every command done, late, and touches no flash: after each new
; command it counts down the mailbox word at +0x14 (which the host never writes, so a
; test sets it) and then sets the done bit. Seven instructions per count.
        ldc 0
        stl 0           ; the command word
idle:   ldl 0
        cj idle         ; no command
        ldl 0
        ldc 1
        and
        eqc 0
        cj idle         ; already done
        ldl 5           ; the delay
        stl 6
wait:   ldl 6
        cj finish
        ldl 6
        adc -1
        stl 6
        j wait
finish: ldl 0
        ldc 1
        or
        stl 0
        j idle
