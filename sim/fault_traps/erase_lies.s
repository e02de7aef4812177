; SPDX-License-Identifier: GPL-2.0-or-later
; A trap whose erase lies: it signs the mailbox for the blank-page command only, answers
; that command honestly, and answers every other command done at once, touching no flash.
; The workspace is the mailbox: word 0 the command, 1 the address, 3 the count, 7 on the
; data buffer. Its own words lie past the buffer. Counts are taken as whole words.
.equ N, 1040            ; bytes of the range left
.equ P, 1041            ; the page's address
.equ L, 1042            ; the page's length
.equ K, 1043            ; bytes of the page left to scan
.equ A, 1044            ; the word being scanned
.equ BLANK, 1045
.equ BIT, 1046          ; the page's number
.equ BYTE, 1047         ; the bitmap byte's address
.equ VERCAPS, 0x1001    ; version 1, blank pages only
        ldc 0
        stl 0
        ldc 0x7A4B5452
        stl 5
        ldlp 0
        ldc 2
        shr
        ldc VERCAPS
        xor
        ldc 0x9E37
        xor
        ldc 0xFFFF
        and
        ldc 16
        shl
        ldc VERCAPS
        or
        stl 6
idle:   ldl 0
        cj idle
        ldl 0
        ldc 3
        and
        eqc 0
        cj idle
        ldl 0
        eqc 0x4000
        cj answer
        ldl 1
        stl P
        ldl 3
        stl N
        ldc 0
        stl BIT
page:   ldl N
        ldc 0
        gt              ; N > 0
        cj answer
        ldc 4096
        stl L
        ldl N
        ldc 4096
        gt              ; N > 4096
        eqc 0
        cj scan_page
        ldl N
        stl L
scan_page:
        ldc 1
        stl BLANK
        ldl P
        stl A
        ldl L
        stl K
scan:   ldl K
        ldc 0
        gt              ; K > 0
        cj scanned
        ldl A
        devlw
        eqc -1
        cj dirty
        ldl A
        adc 4
        stl A
        ldl K
        adc -4
        stl K
        j scan
dirty:  ldc 0
        stl BLANK
scanned:
        ldl BIT         ; the bitmap byte: word 7 of the workspace on, BIT / 8 bytes in
        ldc 3
        shr
        ldlp 7
        add
        stl BYTE
        ldl BIT
        ldc 7
        and
        eqc 0
        cj keep         ; not the byte's first page: it holds the earlier bits
        ldc 0
        ldl BYTE
        sb
keep:   ldl BLANK
        ldl BIT
        ldc 7
        and
        shl             ; BLANK << (BIT & 7)
        ldl BYTE
        lb
        or
        ldl BYTE
        sb
        ldl BIT
        adc 1
        stl BIT
        ldl P
        ldl L
        add
        stl P
        ldl N
        ldl L
        sub
        stl N
        j page
answer: ldl 0
        ldc 1
        or
        stl 0
        j idle
