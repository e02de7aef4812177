; SPDX-License-Identifier: GPL-2.0-or-later
; The receiver-side flash program ("trap program"), for ST20-C2 cores.
;
; The host copies this image to 0x80000140 and starts it there with Wptr at
; 0x80000140 + (image size rounded down to 4) + 8: the mailbox, 32-bit words at Wptr:
;
;   +0x00  command word      0x100 program, 0x400 erase (0x800, 0x1000 further down);
;                            the answer is written back here
;   +0x04  flash address     program: where the chunk's first byte goes (any address)
;   +0x08  buffer address    program: the chunk's bytes (the host puts them at Wptr+0x1C)
;   +0x0C  byte count        program: 1 to 4096
;   +0x10  flash base        both: where the chip starts (command cycles go there)
;   +0x14..+0x1B             never touched by the host; the signature (see "beyond the mailbox")
;   +0x1C..+0x101B           the data buffer
;
; Answers in the command word:
;   done     the command with bit 0 set (success only)
;   failure  0x2 | (offset << 4) | (reason << 16): bit 0 clear, bit 1 set; offset is
;            the byte offset in the chunk of the word that failed (program failures and
;            program time-outs, else 0); reasons:
;              1 chip not identified
;              2 erase failed
;              3 program failed (at chunk address + offset)
;              4 time-out (the chip never said it was done)
;              5 range outside the chip (or a flash base no chip can have)
;              6 not a command (an unknown value, or a count of 0 or above 4096)
; A command word of 0, or one with bit 0 or bit 1 set (an answer), is no new command.
;
; Rules this program keeps:
; - It clears the command word at start, so that one left in RAM by an earlier run is
;   never taken for a new one, and touches no flash before the first command: the host
;   sets up the memory interface only after the program starts.
; - The idle loop lies at the image's start, well inside 0x80000101..0x800002FF.
; - It writes only its own image (the locals at its end), the command word and, with a
;   checksum's answer, the buffer address word. It leaves the words the host wrote
;   otherwise as they were.
;   Every flash access is a 16-bit device access (devls/devss) to an
;   even address inside [base, base + chip size), and the chip ends at or below
;   0x80000000, where RAM begins.
; - At each command it identifies the chip: the CFI query (primary command set 0x0002:
;   AMD/JEDEC; 0x0001 or 0x0003: Intel/Sharp), else the AMD autoselect IDs of the
;   29LV800/29LV160 class. No AMD unlock sequence ever goes to a part that answered as
;   Intel: a chip erase's last cycle (0x10) is a program setup there.
; - Every wait for the chip has a limit.
; - A word that only partly belongs to the chunk (odd address or odd end) keeps the
;   chip's current value in its other half: 0xFF there would ask a programmed half to
;   turn 0 bits back into 1. Words already holding their data are skipped, and a word
;   that needs a 0 to become 1 fails without a program cycle.
; - Nothing is kept on the stack across j or cj (and there is no call), and everything
;   is reloaded after a store: no value depends on what the stack holds where the CPU's
;   documents call it undefined.

.include "mailbox.inc"

.equ LOCALS, 34                  ; words of locals at ws

; locals (word index from ws); those the program loop uses most come first, as indices
; below 16 take one byte
.equ I, 0                        ; offset in the chunk of the word being programmed (-1 at an odd start)
.equ WA, 1                       ; its flash address
.equ CUR, 2                      ; the word's current value
.equ DATA, 3                     ; the value it must get
.equ T, 4                        ; scratch
.equ PA, 5                       ; a wait: the address polled
.equ PL, 6                       ;   polls left
.equ RES, 7                      ;   Intel: the status register at the end (0: none)
.equ A1, 8                       ; base + U1
.equ A2, 9                       ; base + U2
.equ BUFL, 10                    ; the mailbox's buffer address and count, at hand
.equ CNTL, 11
.equ TYPE, 12                    ; 1 AMD, 2 Intel
.equ V, 13                       ; scratch
.equ V2, 14
.equ RETRY, 15                   ; Intel program: unlocked and retried once already
.equ SIZE, 16                    ; chip size in bytes
.equ REASON, 17
.equ OFFSET, 18
.equ NREG, 19                    ; erase-block regions (Intel)
.equ RPTR, 20                    ; address of the region being read or erased
.equ CF, 21                      ; CFI address being read
.equ K, 22                       ; regions (or blocks) left
.equ BLK, 23                     ; block being erased
.equ NEXT, 24                    ; where check goes on: 1 program, 2 erase, 3 identify,
                                 ; 4 checksum, 5 erase sectors
.equ REGIONS, 26                 ; 4 regions of 2 words: blocks, block size

; the mailbox, seen from ws
.equ MB, (end + 8 - ws) / 4
.equ CMD, MB
.equ ADDR, MB + 1
.equ BUF, MB + 2
.equ CNT, MB + 3
.equ BASE, MB + 4

; limits of the waits, in polls of about 30 instruction bytes: a word program (at most
; a few hundred microseconds on the chips above) gets several milliseconds; an erase
; (a whole AMD chip takes up to minutes) gets far more than any chip needs.
.equ PROGRAM_POLLS, 0x4000
.equ ERASE_POLLS, 0x20000000

; AMD unlock and command cycle addresses: words 0x555 and 0x2AA on the 16-bit bus
.equ U1, 0xAAA
.equ U2, 0x554

start:
        ajw     (ws - end - 8) / 4      ; the workspace moves into the image's reserved end
        ldc     0
        stl     CMD
        j       beyond_start

; Wait for a command: a word with bits 0 and 1 clear that is not 0.
idle:
        ldl     CMD
        cj      idle
        ldl     CMD
        ldc     3
        and
        eqc     0
        cj      idle

        ldl     CMD
        eqc     CMD_PROGRAM
        cj      not_program
        j       program
not_program:
        ldl     CMD
        eqc     CMD_PROGRAM_SUMMED
        cj      not_program_summed
        j       program
not_program_summed:
        ldl     CMD
        eqc     CMD_ERASE
        cj      beyond_command
        j       erase
not_command:
        ldc     REASON_NOT_A_COMMAND
        stl     REASON
        j       fail

; --- answers -------------------------------------------------------------------------

done:
        ldl     CMD
        adc     DONE_BIT
        stl     CMD
        j       idle

; fail_word: REASON at the word being programmed (I); fail: REASON, offset 0
fail_word:
        ldl     I
        ldc     -1
        gt
        cj      fail
        ldl     I
        stl     OFFSET
        j       report
fail:
        ldc     0
        stl     OFFSET
report:
        ldl     REASON
        ldc     FAILURE_REASON_SHIFT
        shl
        ldl     OFFSET
        ldc     FAILURE_OFFSET_SHIFT
        shl
        or
        adc     FAILURE_BIT
        stl     CMD
        j       idle

bad_range:
        ldc     REASON_OUTSIDE_CHIP
        stl     REASON
        j       fail

; --- the command's checks and the chip ---------------------------------------------
; check: the flash base must lie in 0x70000000..0x7FFFFFFE and be even; then the
; chip is identified (TYPE, SIZE, the regions) and must end at or below 0x80000000.
; Reached with a j; it goes on as NEXT says: 1 to program, 2 to erase.

check:
        ldc     0x10000000
        ldl     BASE
        ldc     0x70000000
        diff
        gtu
        cj      bad_range
        ldl     BASE
        ldc     1
        and
        eqc     0
        cj      bad_range
        ldl     BASE
        adc     U1
        stl     A1
        ldl     BASE
        adc     U2
        stl     A2

        call    reset_chip
        ; CFI query: 0x98 to word 0x55; "QRY" at words 0x10..0x12
        ldc     0x98
        ldl     BASE
        adc     0xAA
        devss
        ldl     BASE
        adc     0x20
        devls
        ldc     0xFF
        and
        eqc     0x51
        cj      autoselect
        ldl     BASE
        adc     0x22
        devls
        ldc     0xFF
        and
        eqc     0x52
        cj      autoselect
        ldl     BASE
        adc     0x24
        devls
        ldc     0xFF
        and
        eqc     0x59
        cj      autoselect

        ; primary command set, words 0x13 (low) and 0x14 (high)
        ldl     BASE
        adc     0x28
        devls
        ldc     0xFF
        and
        ldc     8
        shl
        ldl     BASE
        adc     0x26
        devls
        ldc     0xFF
        and
        or
        stl     V2
        ; size 2^n, word 0x27: n from 16 (64 KiB) to 28
        ldl     BASE
        adc     0x4E
        devls
        ldc     0xFF
        and
        stl     V
        ldl     V
        ldc     15
        gt
        cj      cfi_unusable
        ldc     29
        ldl     V
        gt
        cj      cfi_unusable
        ldc     1
        ldl     V
        shl
        stl     SIZE

        ; erase-block regions: their number at word 0x2C, then 4 words each. A table
        ; this program cannot use leaves NREG 0: an AMD part still programs and erases
        ; whole, but no block is erased by itself, and an Intel part, which erases
        ; block by block, is given up.
        ldl     BASE
        adc     0x58
        devls
        ldc     0xFF
        and
        stl     NREG
        ldl     NREG
        ldc     0
        gt
        cj      cfi_no_map
        ldc     5
        ldl     NREG
        gt
        cj      cfi_no_map
        ldlp    REGIONS
        stl     RPTR
        ldl     BASE
        adc     0x5A
        stl     CF
        ldl     NREG
        stl     K
cfi_region:
        ldl     CF                      ; blocks - 1
        adc     2
        devls
        ldc     0xFF
        and
        ldc     8
        shl
        ldl     CF
        devls
        ldc     0xFF
        and
        or
        adc     1
        ldl     RPTR
        stnl    0
        ldl     CF                      ; block size / 256
        adc     6
        devls
        ldc     0xFF
        and
        ldc     8
        shl
        ldl     CF
        adc     4
        devls
        ldc     0xFF
        and
        or
        ldc     8
        shl
        stl     V
        ldl     V
        cj      cfi_no_map
        ldl     V
        ldl     RPTR
        stnl    1
        ldl     RPTR
        ldnlp   2
        stl     RPTR
        ldl     CF
        adc     8
        stl     CF
        ldl     K
        adc     -1
        stl     K
        ldl     K
        cj      cfi_mapped
        j       cfi_region
cfi_no_map:
        ldc     0
        stl     NREG
cfi_mapped:
        ldl     V2
        eqc     2
        cj      cfi_not_amd
        ldc     1
        stl     TYPE

        ; Many top-boot AMD-class parts list their regions bottom-first: one table
        ; printed for both boot ends. From version 1.1 of the primary extended table its
        ; byte 0xF names the boot end (2 bottom, 3 top); before that the device ID does,
        ; as Linux's AMD driver reads it: bit 7 set is top boot, except Macronix's
        ; bottom-boot 29LV400 (0x22BA). A top-boot map that starts with blocks smaller
        ; than it ends with is turned round; one already in address order stays.
        ldl     NREG
        ldc     1
        gt
        cj      boot_order_known
        ldl     NREG                    ; the last region's block size above the first's?
        ldc     1
        shl
        adc     -1
        ldlp    REGIONS
        wsub
        ldnl    0
        ldlp    REGIONS
        ldnl    1
        gtu
        cj      boot_order_known
        ldl     BASE                    ; CF := the extended table (word 0x15, 0x16)
        adc     0x2C
        devls
        ldc     0xFF
        and
        ldc     8
        shl
        ldl     BASE
        adc     0x2A
        devls
        ldc     0xFF
        and
        or
        ldc     1
        shl
        ldl     BASE
        bsub
        stl     CF
        ldl     CF                      ; no "P" there: the device ID decides
        devls
        ldc     0xFF
        and
        eqc     0x50
        cj      boot_by_id
        ldl     CF                      ; T := the version, major byte high
        adc     6
        devls
        ldc     0xFF
        and
        ldc     8
        shl
        ldl     CF
        adc     8
        devls
        ldc     0xFF
        and
        or
        stl     T
        ldc     0x3131
        ldl     T
        gt
        cj      boot_by_flag
boot_by_id:
        ldc     0xF0                    ; out of the query, into autoselect
        ldl     BASE
        devss
        ldc     0xAA
        ldl     A1
        devss
        ldc     0x55
        ldl     A2
        devss
        ldc     0x90
        ldl     A1
        devss
        ldl     BASE
        devls
        ldc     0xFF
        and
        stl     V                       ; manufacturer
        ldl     BASE
        adc     2
        devls
        stl     T                       ; device
        ldc     0xF0
        ldl     BASE
        devss
        ldl     V
        eqc     0xC2
        cj      boot_id_bit
        ldl     T
        ldc     0xFF
        and
        eqc     0xBA
        eqc     0
        cj      boot_order_known
boot_id_bit:
        ldl     T
        ldc     0x80
        and
        cj      boot_order_known
        j       boot_reverse
boot_by_flag:
        ldl     CF
        adc     0x1E
        devls
        ldc     0xFF
        and
        eqc     3
        cj      boot_order_known
boot_reverse:                           ; swap regions RPTR and CF, from both ends inwards
        ldlp    REGIONS
        stl     RPTR
        ldl     NREG
        ldc     3
        shl
        ldlp    REGIONS
        bsub
        adc     -8
        stl     CF
boot_swap:
        ldl     CF
        ldl     RPTR
        gtu
        cj      boot_order_known
        ldl     RPTR
        ldnl    0
        stl     V
        ldl     CF
        ldnl    0
        ldl     RPTR
        stnl    0
        ldl     V
        ldl     CF
        stnl    0
        ldl     RPTR
        ldnl    1
        stl     V
        ldl     CF
        ldnl    1
        ldl     RPTR
        stnl    1
        ldl     V
        ldl     CF
        stnl    1
        ldl     RPTR
        ldnlp   2
        stl     RPTR
        ldl     CF
        adc     -8
        stl     CF
        j       boot_swap
boot_order_known:
        ldc     0xF0                    ; back to reading the array
        ldl     BASE
        devss
        j       identified

cfi_not_amd:
        ldl     V2
        ldc     2
        or
        eqc     3                       ; 1 or 3
        cj      cfi_unusable
        ldl     NREG
        cj      cfi_unusable
        ldc     2
        stl     TYPE
        ldc     0xFF                    ; read array
        ldl     BASE
        devss
        j       identified

; The chip answered the query with values this program cannot use: leave query mode
; with the command set's own reset, and give up.
cfi_unusable:
        ldl     V2
        ldc     2
        or
        eqc     3
        cj      cfi_leave_amd
        ldc     0xFF
        ldl     BASE
        devss
        j       not_identified
cfi_leave_amd:
        ldc     0xF0
        ldl     BASE
        devss
        j       not_identified

; No CFI: the AMD autoselect codes of the parts known without it. (Intel parts of this
; class all answer the query, so this is no AMD sequence to one of them.) The reset
; first, in case the chip took the query after all.
autoselect:
        ldc     0
        stl     NREG
        ldc     0xF0
        ldl     BASE
        devss
        ldc     0xAA
        ldl     A1
        devss
        ldc     0x55
        ldl     A2
        devss
        ldc     0x90
        ldl     A1
        devss
        ldl     BASE
        devls
        ldc     0xFF
        and
        stl     V                       ; manufacturer
        ldl     BASE
        adc     2
        devls
        stl     V2                      ; device
        ; an Intel-family maker (0x89, 0xB0) is left in read-array mode with 0xFF
        ldl     V
        eqc     0x89
        cj      as_not_89
        j       as_leave_intel
as_not_89:
        ldl     V
        eqc     0xB0
        cj      as_leave_amd
as_leave_intel:
        ldc     0xFF
        ldl     BASE
        devss
        j       not_identified
as_leave_amd:
        ldc     0xF0
        ldl     BASE
        devss
        ldc     0x200000
        stl     SIZE
        ldl     V2
        eqc     0x22C4                  ; 29LV160 top boot
        cj      as_not_160t
        j       as_amd
as_not_160t:
        ldl     V2
        eqc     0x2249                  ; 29LV160 bottom boot
        cj      as_not_160b
        j       as_amd
as_not_160b:
        ldc     0x100000
        stl     SIZE
        ldl     V2
        eqc     0x22DA                  ; 29LV800 top boot
        cj      as_not_800t
        j       as_amd
as_not_800t:
        ldl     V2
        eqc     0x225B                  ; 29LV800 bottom boot
        cj      not_identified
as_amd:
        ldc     1
        stl     TYPE
        j       identified

not_identified:
        ldc     REASON_NOT_IDENTIFIED
        stl     REASON
        j       fail

identified:
        ldl     NEXT                    ; identify names a chip of any size, even one
        eqc     3                       ; the flash base cannot hold
        cj      identified_bounded
        j       identify_checked
identified_bounded:
        ; the chip must end at or below 0x80000000: SIZE <= 0x80000000 - BASE
        ldl     SIZE
        mint
        ldl     BASE
        diff
        gt
        eqc     0
        cj      bad_range
        ldl     NEXT
        eqc     1
        cj      not_next_program
        j       program_checked
not_next_program:
        ldl     NEXT
        eqc     2
        cj      beyond_checked
        j       erase_checked

; --- program -------------------------------------------------------------------------

program:
        ldl     CNT                     ; 1..4096
        ldc     0
        gt
        cj      not_command
        ldc     4097
        ldl     CNT
        gt
        cj      not_command
        ldc     1
        stl     NEXT
        j       check
program_checked:
        ; [ADDR, ADDR + CNT) inside [BASE, BASE + SIZE): ADDR - BASE <= SIZE - CNT, unsigned
        ldl     ADDR
        ldl     BASE
        diff
        ldl     SIZE
        ldl     CNT
        diff
        gtu
        eqc     0
        cj      bad_range
        ldl     BUF
        stl     BUFL
        ldl     CNT
        stl     CNTL
        ; I := -(ADDR & 1): the first word starts at the even address at or below ADDR
        ldl     ADDR
        ldc     1
        and
        not
        adc     1
        stl     I

next_word:
        ldl     CNTL                    ; while I < count
        ldl     I
        gt
        cj      program_end
        ldl     I
        ldl     ADDR
        bsub
        stl     WA
        ldl     WA
        devls
        stl     CUR
        ; low byte: the chunk's when I >= 0, else the chip's
        ldl     I
        ldc     -1
        gt
        cj      lo_keep
        ldl     I
        ldl     BUFL
        bsub
        lb
        stl     DATA
        j       hi
lo_keep:
        ldl     CUR
        ldc     0xFF
        and
        stl     DATA
hi:
        ; high byte: the chunk's when I + 1 < count, else the chip's
        ldl     CNTL
        ldl     I
        adc     1
        gt
        cj      hi_keep
        ldl     I
        ldl     BUFL
        bsub
        adc     1
        lb
        ldc     8
        shl
        stl     T
        j       merge
hi_keep:
        ldl     CUR
        ldc     0xFF00
        and
        stl     T
merge:
        ldl     DATA
        ldl     T
        or
        stl     DATA
        ldl     DATA                    ; already there: nothing to do
        ldl     CUR
        diff
        cj      word_done
        ldl     CUR                     ; a 0 that must become 1: no program can do it
        not
        ldl     DATA
        and
        cj      word_programmable
        j       program_failed
word_programmable:
        ldl     TYPE
        eqc     1
        cj      program_intel

        ; AMD: unlock, 0xA0, then the data; DQ7 data polling at the word
        ldc     0xAA
        ldl     A1
        devss
        ldc     0x55
        ldl     A2
        devss
        ldc     0xA0
        ldl     A1
        devss
        ldl     DATA
        ldl     WA
        devss
        ldc     PROGRAM_POLLS
        stl     PL
amd_poll:
        ldl     WA
        devls
        ldl     DATA
        xor
        ldc     0x80
        and
        cj      word_verify
        ldl     WA
        devls
        ldc     0x20
        and
        cj      amd_poll_again
        ldl     WA                      ; DQ5: one more look, DQ7 may have just turned
        devls
        ldl     DATA
        xor
        ldc     0x80
        and
        cj      word_verify
        ldc     0xF0                    ; the chip gave up; reset it
        ldl     BASE
        devss
        j       program_failed
amd_poll_again:
        ldl     PL
        adc     -1
        stl     PL
        ldl     PL
        cj      program_timeout
        j       amd_poll

program_intel:
        ldc     0
        stl     RETRY
intel_again:
        ldc     0x40
        ldl     WA
        devss
        ldl     DATA
        ldl     WA
        devss
        ldl     WA
        stl     PA
        ldc     PROGRAM_POLLS
        stl     PL
        ldc     1
        stl     NEXT
        j       intel_wait
intel_program_waited:
        ldl     RES
        cj      program_timeout
        ldl     RES
        ldc     0x1A                    ; SR.4 program error, SR.3 Vpp low, SR.1 locked
        and
        cj      intel_ok
        ldc     0x50                    ; clear the status register
        ldl     WA
        devss
        ; a locked block (SR.1) is unlocked and the word tried again, once
        ldl     RES
        ldc     0x02
        and
        cj      intel_failed
        ldl     RETRY
        eqc     0
        cj      intel_failed
        ldc     1
        stl     RETRY
        ldc     0x60
        ldl     WA
        devss
        ldc     0xD0
        ldl     WA
        devss
        j       intel_again
intel_failed:
        ldc     0xFF
        ldl     WA
        devss
        j       program_failed
intel_ok:
        ldc     0xFF                    ; read array again, to check the word
        ldl     WA
        devss

word_verify:
        ldl     WA
        devls
        ldl     DATA
        diff
        cj      word_done
        j       program_failed
word_done:
        ldl     I
        adc     2
        stl     I
        j       next_word

program_end:
        ldl     CMD
        eqc     CMD_PROGRAM_SUMMED
        cj      done
        j       checksum_checked        ; the chunk's checksum, then done

program_failed:
        ldc     REASON_PROGRAM_FAILED
        stl     REASON
        j       fail_word
program_timeout:
        ldc     REASON_TIME_OUT
        stl     REASON
        j       fail_word

; --- erase ---------------------------------------------------------------------------

erase:
        ldc     2
        stl     NEXT
        j       check
erase_checked:
        ldl     TYPE
        eqc     1
        cj      erase_intel

        ; AMD chip erase: unlock, 0x80, unlock, 0x10; then DQ7 data polling at the base,
        ; which reads 0 while erasing and 1 (erased) when done (amd_erase, shared with
        ; the sector erase)
        ldl     BASE
        stl     PA
        ldc     0x10
        stl     V
        ldl     A1
        stl     T
        j       amd_erase

; Intel: every block of the CFI regions, unlocked first, erased and checked in turn
erase_intel:
        ldlp    REGIONS
        stl     RPTR
        ldl     BASE
        stl     BLK
next_region:
        ldl     NREG
        cj      done
        ldl     RPTR
        ldnl    0
        stl     K
next_block:
        ldl     K
        cj      region_done
        ldl     SIZE                    ; never past the chip's end
        ldl     BLK
        ldl     BASE
        diff
        gtu
        cj      done
        ldc     0x60
        ldl     BLK
        devss
        ldc     0xD0
        ldl     BLK
        devss
        ldc     0x20
        ldl     BLK
        devss
        ldc     0xD0
        ldl     BLK
        devss
        ldl     BLK
        stl     PA
        ldc     ERASE_POLLS
        stl     PL
        ldc     2
        stl     NEXT
        j       intel_wait
intel_erase_waited:
        ldl     RES
        cj      erase_timeout
        ldl     RES
        ldc     0x3A                    ; SR.5 erase, SR.4, SR.3 Vpp, SR.1 locked
        and
        cj      block_ok
        ldc     0x50
        ldl     BLK
        devss
        ldc     0xFF
        ldl     BLK
        devss
        j       erase_failed
block_ok:
        ldc     0xFF
        ldl     BLK
        devss
        ldl     BLK
        devls
        eqc     0xFFFF
        cj      erase_failed
        ldl     RPTR
        ldnl    1
        ldl     BLK
        bsub
        stl     BLK
        ldl     K
        adc     -1
        stl     K
        j       next_block
region_done:
        ldl     RPTR
        ldnlp   2
        stl     RPTR
        ldl     NREG
        adc     -1
        stl     NREG
        j       next_region

erase_failed:
        ldc     REASON_ERASE_FAILED
        stl     REASON
        j       fail
erase_timeout:
        ldc     REASON_TIME_OUT
        stl     REASON
        j       fail

; Intel status polling at PA, at most PL polls: RES is the status register once SR.7
; says ready, 0 when it never did. Goes on as NEXT says: 1 program, 2 erase.
intel_wait:
        ldl     PA
        devls
        ldc     0x80
        and
        cj      iw_again
        ldl     PA
        devls
        ldc     0xFF
        and
        stl     RES
        j       iw_back
iw_again:
        ldl     PL
        adc     -1
        stl     PL
        ldl     PL
        cj      iw_timeout
        j       intel_wait
iw_timeout:
        ldc     0
        stl     RES
iw_back:
        ldl     NEXT
        eqc     1
        cj      intel_erase_waited
        j       intel_program_waited

; --- beyond the mailbox: the signature, identify and checksum --------------------------
;
; At start the program signs mailbox words +0x14..+0x1B, so that a host can tell it
; from a program that only knows program and erase:
;   +0x14  0x7A4B5452
;   +0x18  bits 0..7 the version (1), bits 8..15 what it can do (bit 0 identify,
;          bit 1 checksum, bit 2 erase sectors, bit 3 program then checksum, bit 4
;          blank pages), bits
;          16..31 a check: ((mailbox address >> 2) xor the low
;          half xor 0x9E37) & 0xFFFF. The mailbox's address in the check keeps a
;          signature left in RAM by an earlier program at another place from counting.
; Two more commands, answered like program and erase:
;   0x800   identify: the chip at the flash base (+0x10); into the data buffer:
;             word 0  command set as this program drives it: 1 AMD, 2 Intel
;             word 1  size in bytes
;             word 2  manufacturer ID, word 3 device ID
;             bytes 16..79  the chip's CFI query bytes 0x10..0x4F (with "QRY" at
;                           16..18 when it answers the query; else whatever it drove)
;   0x1000  checksum: the CRC-32 (the zlib polynomial, initial and final complement)
;           of the count (+0x0C) bytes of flash from the address (+0x04), any count up
;           to the window's end, into the buffer address word (+0x08), which the checksum
;           has no use for. It needs no identified chip: the range lies in [flash base,
;           0x80000000), and the chip is reset to reading its array first.
;   0x4000  blank pages: bit i of the data buffer (byte i / 8, low bit first) set when the
;           4 KB page from the address + 4096 i (the last one ends with the range) holds
;           only 0xFF, every byte read; the count 1 to 128 MB (the buffer's bits), the
;           range as the checksum's.
;   0x1100  program, then checksum: program as 0x100 does, then the checksum of the
;           chunk's flash bytes into +0x08, so that the host checks each chunk by
;           one more word read instead of reading it back.
;   0x2000  erase sectors: every erase block that overlaps the count (+0x0C) bytes
;           from the address (+0x04), and no other; a count of 0 names the one block
;           that holds the address. The blocks are those of the chip's CFI erase-block
;           regions, in address order from its start: a chip without that map fails
;           "chip not identified", and a range past the chip's end (or its map's)
;           "range outside the chip", both before anything is erased. The host may
;           name a block at a time, to show progress and bound each wait by the chip's
;           own longest block erase, or a whole range in one command.
; Flash data is read with device loads (devlw, devlb): the checksum must see the
; chip, never a cached copy of what it held before a program.

.equ SIG_VERCAPS, SIG_VERSION + 256 * (CAN_IDENTIFY + CAN_CHECKSUM + CAN_ERASE_SECTORS + CAN_PROGRAM_SUMMED + CAN_FIND_BLANK_PAGES)
.equ CRCREADY, 25                ; the CRC table is filled
; the checksum's locals, where the program's were (one command runs at a time)
.equ CN, 0                       ; bytes left
.equ CP, 1                       ; flash address
.equ CRC, 2
.equ CW, 3                       ; the word being taken apart
.equ CM, 4                       ; 0xFF, at hand
.equ CT, 5                       ; the tables' addresses
.equ CT1, 6
.equ CT2, 7
.equ CT3, 8
.equ TABLE, (crc_table - ws) / 4
; the sector walk's locals, where the program's were
.equ SLO, 0                      ; the range, in bytes from the chip's start
.equ SHI, 1
.equ SAT, 2                      ; the block at hand: its start, its end
.equ SEND, 3
.equ SREG, 10                    ; regions left
.equ SPASS, 11                   ; 0 measuring the map, 1 erasing
.equ SN, 14                      ; the range's length
; the blank-page scan's, beside the checksum's CN and CP
.equ BPAGE, 2                    ; the page's start
.equ BLEFT, 3                    ; bytes of the range from there
.equ BPN, 4                      ; the page's length
.equ BBIT, 5                     ; its bit in the answer
.equ BT, 6

beyond_start:
        ldc     0
        stl     CRCREADY
        ldc     SIG_MAGIC
        stl     MB + 5
        ldlp    MB
        ldc     2
        shr
        ldc     SIG_VERCAPS
        xor
        ldc     SIG_SALT
        xor
        ldc     0xFFFF
        and
        ldc     16
        shl
        ldc     SIG_VERCAPS
        or
        stl     MB + 6
        j       idle

beyond_command:
        ldl     CMD
        eqc     CMD_IDENTIFY
        cj      bc_not_identify
        ldc     3
        stl     NEXT
        j       check
bc_not_identify:
        ldl     CMD
        eqc     CMD_CHECKSUM
        cj      bc_not_checksum
        j       window_check
bc_not_checksum:
        ldl     CMD
        eqc     CMD_BLANK_PAGES
        cj      bc_not_blank
        j       window_check
bc_not_blank:
        ldl     CMD
        eqc     CMD_ERASE_SECTORS
        cj      not_command
        ldc     5
        stl     NEXT
        j       check

beyond_checked:
        ldl     NEXT
        eqc     5
        cj      bc_not_sector
        j       sector_checked
bc_not_sector:
        ldl     NEXT
        eqc     3
        cj      checksum_checked

; identify: the IDs in the command set's own ID mode, then the query bytes
identify_checked:
        ldlp    MB + 7
        stl     CF
        ldl     TYPE
        ldl     CF
        stnl    0
        ldl     SIZE
        ldl     CF
        stnl    1
        ldl     TYPE
        eqc     1
        cj      id_intel
        ldc     0xAA
        ldl     A1
        devss
        ldc     0x55
        ldl     A2
        devss
        ldc     0x90
        ldl     A1
        devss
        j       id_read
id_intel:
        ldc     0x90
        ldl     BASE
        devss
id_read:
        ldl     BASE
        devls
        ldc     0xFF
        and
        ldl     CF
        stnl    2
        ldl     BASE
        adc     2
        devls
        ldl     CF
        stnl    3
        ldl     TYPE
        eqc     1
        cj      id_intel_reset
        ldc     0xF0
        ldl     BASE
        devss
        j       id_query
id_intel_reset:
        ldc     0xFF
        ldl     BASE
        devss
id_query:
        ldc     0x98
        ldl     BASE
        adc     0xAA
        devss
        ldc     0x10
        stl     K
id_byte:                                ; buffer byte K := query byte K
        ldl     K
        ldc     1
        shl
        ldl     BASE
        bsub
        devls
        ldl     K
        ldl     CF
        bsub
        sb
        ldl     K
        adc     1
        stl     K
        ldc     0x50
        ldl     K
        gt
        cj      id_done
        j       id_byte
id_done:
        ldl     TYPE
        eqc     1
        cj      id_done_intel
        ldc     0xF0
        ldl     BASE
        devss
        j       done
id_done_intel:
        ldc     0xFF
        ldl     BASE
        devss
        j       done

; Reading needs no identity: the first thing done with an unknown receiver is a backup.
; The checksum then covers the window from the flash base up to RAM, with the chip
; brought back to reading its array whatever mode it was left in.
window_check:
        ldc     0x10000000
        ldl     BASE
        ldc     0x70000000
        diff
        gtu
        cj      bad_range
        ldl     BASE
        ldc     1
        and
        eqc     0
        cj      bad_range
        mint
        ldl     BASE
        diff
        stl     SIZE
        call    reset_chip
        ldl     CMD
        eqc     CMD_BLANK_PAGES
        cj      checksum_checked

; blank pages: bit i of the buffer (byte i / 8, low bit first) set when the page of 4 KB
; from ADDR + 4096 i (the last one up to the range's end) holds only 0xFF, every byte
; read. The range lies inside the window and its bitmap fits the buffer.
        ldc     MB_DATA_BUFFER_SIZE * 8 * BLANK_PAGE_SIZE   ; 1 <= CNT <= what the buffer maps
        ldl     CNT
        ldc     1
        diff
        gtu
        cj      not_command
        ldl     CNT                     ; CNT <= SIZE, then ADDR - BASE <= SIZE - CNT
        ldl     SIZE
        gtu
        eqc     0
        cj      bad_range
        ldl     ADDR
        ldl     BASE
        diff
        ldl     SIZE
        ldl     CNT
        diff
        gtu
        eqc     0
        cj      bad_range
        ldl     CNT                     ; the bitmap's words cleared first
        adc     BLANK_PAGE_SIZE * 32 - 1
        ldc     17
        shr
        stl     BT
        ldlp    MB + MB_DATA_BUFFER / 4
        stl     BPAGE
blank_clear:
        ldl     BT
        cj      blank_cleared
        ldc     0
        ldl     BPAGE
        stnl    0
        ldl     BPAGE
        ldnlp   1
        stl     BPAGE
        ldl     BT
        adc     -1
        stl     BT
        j       blank_clear
blank_cleared:
        ldl     ADDR
        stl     BPAGE
        ldl     CNT
        stl     BLEFT
        ldc     0
        stl     BBIT
blank_page:
        ldl     BLEFT
        cj      done
        ldl     BLEFT                   ; BPN := the page's length
        stl     BPN
        ldl     BLEFT
        ldc     BLANK_PAGE_SIZE
        gt
        cj      blank_sized
        ldc     BLANK_PAGE_SIZE
        stl     BPN
blank_sized:
        ldl     BPAGE
        stl     CP
        ldl     BPN
        stl     CN
blank_scan:
        ldl     CN
        cj      blank_found
        ldl     CP
        ldc     3
        and
        cj      blank_aligned
blank_byte:
        ldl     CP
        devlb
        eqc     0xFF
        cj      blank_next
        ldl     CP
        adc     1
        stl     CP
        ldl     CN
        adc     -1
        stl     CN
        j       blank_scan
blank_aligned:
        ldc     4                       ; fewer than four left: a byte at a time
        ldl     CN
        gt
        cj      blank_word
        j       blank_byte
blank_word:
        ldl     CP
        devlw
        not
        cj      blank_word_erased
        j       blank_next
blank_word_erased:
        ldl     CP
        adc     4
        stl     CP
        ldl     CN
        adc     -4
        stl     CN
        ldc     4
        ldl     CN
        gt
        cj      blank_word
        j       blank_scan
blank_found:                            ; byte BBIT / 8 |= 1 << (BBIT & 7)
        ldl     BBIT
        ldc     3
        shr
        ldlp    MB + MB_DATA_BUFFER / 4
        bsub
        stl     BT
        ldc     1
        ldl     BBIT
        ldc     7
        and
        shl
        ldl     BT
        lb
        or
        ldl     BT
        sb
blank_next:
        ldl     BPAGE
        ldl     BPN
        bsub
        stl     BPAGE
        ldl     BLEFT
        ldl     BPN
        diff
        stl     BLEFT
        ldl     BBIT
        adc     1
        stl     BBIT
        j       blank_page

; checksum: [ADDR, ADDR + CNT) inside the chip; CNT <= SIZE first, so that
; SIZE - CNT cannot wrap
checksum_checked:
        ldl     CNT
        ldl     SIZE
        gtu
        eqc     0
        cj      bad_range
        ldl     ADDR
        ldl     BASE
        diff
        ldl     SIZE
        ldl     CNT
        diff
        gtu
        eqc     0
        cj      bad_range
        ldl     CRCREADY
        eqc     0
        cj      crc_go

        ; the table, once: entry K is K's remainder after 8 shifts
        ldc     0
        stl     K
tab_next:
        ldl     K
        stl     V
        ldc     8
        stl     V2
tab_bit:
        ldl     V
        ldc     1
        and
        cj      tab_even
        ldl     V
        ldc     1
        shr
        ldc     0xEDB88320
        xor
        stl     V
        j       tab_bit_done
tab_even:
        ldl     V
        ldc     1
        shr
        stl     V
tab_bit_done:
        ldl     V2
        adc     -1
        stl     V2
        ldl     V2
        cj      tab_store
        j       tab_bit
tab_store:
        ldl     V
        ldl     K
        ldlp    TABLE
        wsub
        stnl    0
        ldl     K
        adc     1
        stl     K
        ldc     256
        ldl     K
        gt
        cj      tab_done
        j       tab_next
tab_done:
        ; tables 1..3: entry K of table t is (entry K of t-1 >> 8) xor table 0's entry
        ; for its low byte, the remainder of K followed by t zero bytes
        ldc     256
        stl     K
tab_more:
        ldl     K                       ; V := entry K - 256 (the table before)
        adc     -256
        ldlp    TABLE
        wsub
        ldnl    0
        stl     V
        ldl     V
        ldc     0xFF
        and
        ldlp    TABLE
        wsub
        ldnl    0
        ldl     V
        ldc     8
        shr
        xor
        ldl     K
        ldlp    TABLE
        wsub
        stnl    0
        ldl     K
        adc     1
        stl     K
        ldc     1024
        ldl     K
        gt
        cj      tab_all
        j       tab_more
tab_all:
        ldc     1
        stl     CRCREADY

crc_go:
        ldlp    TABLE
        stl     CT
        ldlp    TABLE + 256
        stl     CT1
        ldlp    TABLE + 512
        stl     CT2
        ldlp    TABLE + 768
        stl     CT3
        ldc     0xFF
        stl     CM
        ldc     -1
        stl     CRC
        ldl     ADDR
        stl     CP
        ldl     CNT
        stl     CN
crc_loop:
        ldl     CN
        cj      crc_end
        ldl     CP
        ldc     3
        and
        cj      crc_aligned
crc_byte:                               ; an odd head or tail, a byte at a time
        ldl     CP
        devlb
        ldl     CRC
        xor
        ldl     CM
        and
        ldl     CT
        wsub
        ldnl    0
        ldl     CRC
        ldc     8
        shr
        xor
        stl     CRC
        ldl     CP
        adc     1
        stl     CP
        ldl     CN
        adc     -1
        stl     CN
        j       crc_loop
crc_aligned:
        ldc     4                       ; fewer than four left: a byte at a time
        ldl     CN
        gt
        cj      crc_word
        j       crc_byte
crc_word:                               ; four bytes at once, while four are left;
        ldl     CP                      ; the bytes of CW are taken with lb from the
        devlw                           ; workspace, low byte first
        ldl     CRC
        xor
        stl     CW
        ldlp    CW                      ; table 3 for the low byte
        lb
        ldl     CT3
        wsub
        ldnl    0
        ldlp    CW                      ; table 2 for the next
        adc     1
        lb
        ldl     CT2
        wsub
        ldnl    0
        xor
        ldlp    CW                      ; table 1
        adc     2
        lb
        ldl     CT1
        wsub
        ldnl    0
        xor
        ldlp    CW                      ; table 0 for the high byte
        adc     3
        lb
        ldl     CT
        wsub
        ldnl    0
        xor
        stl     CRC
        ldl     CP
        adc     4
        stl     CP
        ldl     CN
        adc     -4
        stl     CN
        ldc     4
        ldl     CN
        gt
        cj      crc_word
        j       crc_loop
crc_end:
        ldl     CRC
        not
        stl     BUF
        j       done

; erase sectors: every block of the chip's map that overlaps [ADDR, ADDR + SN), SN
; the count or, for 0, 1 (the block that holds the address). The map is walked twice:
; the first walk only measures it, so that a range the map does not reach is refused
; before anything is erased; the second erases each overlapping block with the code
; the chip erase uses, which comes back to walk_next while NEXT is 5.
sector_checked:
        ldl     NREG                    ; no map from the chip: no telling its blocks
        cj      not_identified
        ldl     CNT
        eqc     0
        ldl     CNT
        or
        stl     SN
        ldl     SN                      ; SN <= SIZE first, so that SIZE - SN cannot wrap
        ldl     SIZE
        gtu
        eqc     0
        cj      bad_range
        ldl     ADDR
        ldl     BASE
        diff
        stl     SLO
        ldl     SLO
        ldl     SIZE
        ldl     SN
        diff
        gtu
        eqc     0
        cj      bad_range
        ldl     SN
        ldl     SLO
        bsub
        stl     SHI
        ldc     0
        stl     SPASS
walk:
        ldlp    REGIONS
        stl     RPTR
        ldl     NREG
        stl     SREG
        ldc     0
        stl     SAT
walk_region:
        ldl     SREG
        cj      walk_end
        ldl     RPTR
        ldnl    0
        stl     K
walk_block:
        ldl     K
        cj      walk_region_done
        ldl     RPTR
        ldnl    1
        ldl     SAT
        bsub
        stl     SEND
        ldl     SHI                     ; it overlaps when SAT < SHI and SEND > SLO
        ldl     SAT
        gtu
        cj      walk_next
        ldl     SEND
        ldl     SLO
        gtu
        cj      walk_next
        ldl     SPASS
        cj      walk_next
        ldl     SAT
        ldl     BASE
        bsub
        stl     PA
        ldc     ERASE_POLLS
        stl     PL
        ldl     TYPE
        eqc     1
        cj      sector_intel

        ; AMD: unlock, 0x80, unlock, 0x30 at the sector
        ldc     0x30
        stl     V
        ldl     PA
        stl     T
        j       amd_erase
walk_next:
        ldl     SEND
        stl     SAT
        ldl     K
        adc     -1
        stl     K
        j       walk_block
walk_region_done:
        ldl     RPTR
        ldnlp   2
        stl     RPTR
        ldl     SREG
        adc     -1
        stl     SREG
        j       walk_region
walk_end:
        ldl     SPASS
        eqc     0
        cj      done
        ldl     SHI                     ; the map must reach the range's end
        ldl     SAT
        gtu
        eqc     0
        cj      bad_range
        ldc     1
        stl     SPASS
        j       walk

; AMD erase: unlock, 0x80, unlock, then V at T; DQ7 at PA reads 0 until it is erased
amd_erase:
        ldc     0xAA
        ldl     A1
        devss
        ldc     0x55
        ldl     A2
        devss
        ldc     0x80
        ldl     A1
        devss
        ldc     0xAA
        ldl     A1
        devss
        ldc     0x55
        ldl     A2
        devss
        ldl     V
        ldl     T
        devss
        ldc     ERASE_POLLS
        stl     PL
sector_poll:
        ldl     PA
        devls
        ldc     0x80
        and
        eqc     0
        cj      sector_verify
        ldl     PA
        devls
        ldc     0x20
        and
        cj      sector_poll_again
        ldl     PA                      ; DQ5: one more look
        devls
        ldc     0x80
        and
        eqc     0
        cj      sector_verify
        ldc     0xF0
        ldl     BASE
        devss
        j       erase_failed
sector_poll_again:
        ldl     PL
        adc     -1
        stl     PL
        ldl     PL
        cj      erase_timeout
        j       sector_poll

        ; Intel: unlock the block, erase it, wait for SR.7
sector_intel:
        ldc     0x60
        ldl     PA
        devss
        ldc     0xD0
        ldl     PA
        devss
        ldc     0x20
        ldl     PA
        devss
        ldc     0xD0
        ldl     PA
        devss
sector_intel_poll:
        ldl     PA
        devls
        ldc     0x80
        and
        cj      sector_intel_again
        ldl     PA
        devls
        ldc     0x3A                    ; SR.5 erase, SR.4, SR.3 Vpp, SR.1 locked
        and
        cj      sector_intel_ok
        ldc     0x50
        ldl     PA
        devss
        ldc     0xFF
        ldl     PA
        devss
        j       erase_failed
sector_intel_again:
        ldl     PL
        adc     -1
        stl     PL
        ldl     PL
        cj      erase_timeout
        j       sector_intel_poll
sector_intel_ok:
        ldc     0xFF
        ldl     PA
        devss
sector_verify:
        ldl     PA
        devls
        eqc     0xFFFF
        cj      erase_failed
        ldl     NEXT                    ; a chip erase is done; a sector walk goes on
        eqc     5
        cj      done
        j       walk_next

; reset_chip: whatever mode an earlier run left the chip in, back to reading its array.
; F0 is the AMD reset, and a second F0 leaves a query entered from autoselect, which the
; first only takes back to autoselect; FF is the Intel read-array command. Each family
; ignores the other's value, as a CFI probe relies on, and F0 comes first because an
; AMD part in autoselect takes nothing but the reset and the query.
; Subroutines are leaves: they step back up to the locals at entry (ajw 4) and down again
; before ret, so the return address in the frame below ws stays put.
reset_chip:
        ajw     4
        ldc     0xF0
        ldl     BASE
        devss
        ldc     0xF0
        ldl     BASE
        devss
        ldc     0xFF
        ldl     BASE
        devss
        ajw     -4
        ret

; --- the workspace: the locals; the mailbox follows the image -------------------------
        .align  4
        .space  16                      ; the frame a call stores below ws
ws:
        .space  LOCALS * 4
crc_table:                              ; beyond the locals: filled at the first checksum,
        .space  4 * 256 * 4             ; four tables, a word at a time
end:
