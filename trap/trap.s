; SPDX-License-Identifier: GPL-2.0-or-later
; The receiver-side flash program ("trap program"), for ST20-C2 cores.
;
; The host copies this image to 0x80000140 and starts it there with Wptr at
; 0x80000140 + (image size rounded down to 4) + 8: the mailbox, 32-bit words at Wptr
; (mailbox.inc names them, and the commands, answers and ability bits):
;
;   +0x00  command word      the answer is written back here
;   +0x04  flash address     where the command starts (any address)
;   +0x08  buffer address    program: the chunk's bytes (the host puts them at +0x1C);
;                            the checksum's answer
;   +0x0C  byte count
;   +0x10  flash base        where the chip starts (command cycles go there)
;   +0x14..+0x1B             the signature, written at start; the host never writes it
;   +0x1C..+0x101B           the data buffer
;
; Commands:
;   0x100   program the count (1 to 4096) bytes of the buffer at the flash address
;   0x1100  program, then the checksum of the chunk's flash bytes into +0x08, so that
;           the host checks each chunk by one more word read instead of reading it back
;   0x400   erase the whole chip
;   0x800   identify: into the data buffer word 0 the command set as this program
;           drives it (1 AMD, 2 Intel), word 1 the size in bytes, word 2 the
;           manufacturer ID, word 3 the device ID, bytes 16..79 the chip's CFI query
;           bytes 0x10..0x4F (whatever it drove when it does not answer the query)
;   0x1000  checksum: the CRC-32 (the zlib polynomial, initial and final complement) of
;           the count bytes from the flash address, into +0x08
;   0x2000  erase sectors: every erase block that overlaps the count bytes from the
;           flash address, and no other; a count of 0 names the block holding the
;           address. Blocks are those of the chip's CFI map in address order: a chip
;           without one fails "chip not identified", a range past the map's end "range
;           outside the chip", both before anything is erased
;   0x4000  blank pages: bit i of the data buffer (byte i / 8, low bit first) set when
;           the 4 KB page from the flash address + 4096 i (the last one ends with the
;           range) holds only 0xFF, every byte read; the count 1 to 128 MB
; The checksum and blank pages need no identified chip (the first thing done with an
; unknown receiver is a backup): their range lies in [flash base, 0x80000000), and the
; chip is reset to reading its array first. Every other command identifies the chip
; first and keeps to it.
;
; Answers in the command word:
;   done     the command with bit 0 set (success only)
;   failure  0x2 | (offset << 4) | (reason << 16): offset is the byte offset in the chunk
;            of the word that failed (program failures and time-outs, else 0); reasons:
;              1 chip not identified
;              2 erase failed
;              3 program failed (at chunk address + offset)
;              4 time-out (the chip never said it was done)
;              5 range outside the chip (or a flash base no chip can have)
;              6 not a command (an unknown value, or a count out of bounds)
; A command word of 0, or one with bit 0 or bit 1 set (an answer), is no new command.
;
; The signature, written at start: +0x14 the magic word 0x7A4B5452; +0x18 bits 0..7 the
; version (1), bits 8..15 what it can do (bit 0 identify, 1 checksum, 2 erase sectors,
; 3 program then checksum, 4 blank pages), bits 16..31 ((mailbox address >> 2) xor the
; low half xor 0x9E37) & 0xFFFF, so that a signature an earlier program left at another
; place does not count.
;
; Rules this program keeps:
; - It clears the command word at start, so that one left in RAM by an earlier run is
;   never taken for a new one, and touches no flash before the first command: the host
;   sets up the memory interface only after the program starts. What it does at start
;   (the CRC tables) runs inside 0x80000101..0x800002FF, where its idle loop lies too.
; - It writes only the locals at its image's end, the command word, the checksum's
;   answer word, the data buffer (identify, blank pages), and its CRC tables, 4 KB
;   from Wptr + 0x1020, past the mailbox.
; - Every flash access is a 16-bit device access (devls/devss; devlb/devlw for the
;   checksum and blank pages, which must see the chip, never a cache) inside
;   [base, base + chip size), and the chip ends at or below 0x80000000, where RAM begins.
; - Identification: reset (F0, F0, FF), then the CFI query (primary command set 0x0002:
;   AMD/JEDEC; 0x0001 or 0x0003: Intel/Sharp), else the AMD autoselect IDs of the
;   29LV800/29LV160 class. No AMD unlock sequence ever goes to a part that answered as
;   Intel: a chip erase's last cycle (0x10) is a program setup there.
; - Every wait for the chip ends by the timer (64 us a tick at low priority) after the
;   chip's own CFI maximum: a word program 2^(word 0x1F + 0x23) us and four ticks more,
;   a block erase 2^(word 0x21 + 0x25) ms at 16 ticks a ms (1.024 ms), a chip erase that
;   per block. Without CFI times: 512 us and 16.4 s. The host waits twice as long and a
;   second more, so a chip that never gets ready is reported as a time-out (reason 4).
; - A word that only partly belongs to the chunk (odd address or odd end) keeps the
;   chip's current value in its other half: 0xFF there would ask a programmed half to
;   turn 0 bits back into 1. Words already holding their data are skipped, and a word
;   that needs a 0 to become 1 fails without a program cycle.
; - Nothing is kept on the stack across j, cj, call or a store: every value is reloaded
;   from the locals, as the CPU's documents leave the stack undefined there.
; - Subroutines are entered with call and start with ajw 4, back to the locals; they end
;   with ajw -4 and ret. One that calls another keeps its return address (at ws - 16,
;   where call put it) in a local of its own meanwhile.

.include "mailbox.inc"

; --- locals: word indices from ws; the busiest below 16, where they take one byte -------
.equ I, 0                        ; program: offset in the chunk of the word at hand (-1 at an odd start)
.equ WA, 1                       ;   its flash address
.equ CUR, 2                      ;   its value in the chip
.equ DATA, 3                     ;   the value it must get; a wait: what DQ7 turns to
.equ PA, 4                       ; a wait: the address polled
.equ DL, 5                       ;   the timer value it gives up at
.equ RES, 6                      ;   the result: 0 done, 1 failed, 4 time-out; Intel: SR
.equ T, 7                        ; scratch
.equ V, 8                        ; amd_cycles: the command, and T its address
.equ CN, 9                       ; checksum, blank pages: bytes left
.equ CP, 10                      ;   the flash address
.equ CRC, 11
.equ CW, 12                      ;   the word being taken apart
.equ A1, 13                      ; base + the AMD command addresses
.equ A2, 14
.equ LIMIT, 15                   ; a wait's length in timer ticks
.equ TYPE, 16                    ; 1 AMD, 2 Intel
.equ SIZE, 17                    ; chip size in bytes (the window's for the checksum)
.equ REASON, 18                  ; a failure's reason, 0 for none
.equ NREG, 19                    ; erase block regions in the map (0: none known)
.equ NBLOCKS, 20                 ; blocks in the map
.equ WORD_TICKS, 21              ; the longest word program, in timer ticks
.equ BLOCK_TICKS, 22             ; the longest block erase
.equ RPTR, 23                    ; a region of the map
.equ K, 24                       ; a count
.equ CF, 25                      ; an address being read
.equ RET_ID, 26                  ; identify_chip's and window_range's return address
.equ REGIONS, 27                 ; 4 regions of 2 words: blocks, block size
.equ LOCALS, 35
; where one command's locals take another's
.equ RETRY, CN                   ; Intel program: unlocked and tried again already
.equ SLO, CN                     ; erase sectors: the range from the chip's start
.equ SHI, CP
.equ SAT, CRC                    ;   the block at hand: its start, its end
.equ SEND, CW
.equ SPASS, I                    ;   0 measuring the map, 1 erasing
.equ BPN, I                      ; blank pages: the page's length, its bit
.equ BBIT, WA

; the mailbox, and the CRC tables past it, seen from ws
.equ MB, (end + 8 - ws) / 4
.equ CMD, MB + MB_COMMAND / 4
.equ ADDR, MB + MB_FLASH_ADDRESS / 4
.equ BUF, MB + MB_BUFFER_ADDRESS / 4
.equ CNT, MB + MB_BYTE_COUNT / 4
.equ BASE, MB + MB_FLASH_BASE / 4
.equ DATA_BUFFER, MB + MB_DATA_BUFFER / 4
.equ TABLE, MB + (MB_DATA_BUFFER + MB_DATA_BUFFER_SIZE + 4) / 4

.equ SIG_INFO, SIG_VERSION + 256 * (CAN_IDENTIFY + CAN_CHECKSUM + CAN_ERASE_SECTORS + CAN_PROGRAM_SUMMED + CAN_FIND_BLANK_PAGES)

; AMD unlock and command cycle addresses: words 0x555 and 0x2AA on the 16-bit bus
.equ U1, 0xAAA
.equ U2, 0x554
; Intel status register: SR.5 erase error, SR.4 program error, SR.3 Vpp low, SR.1 locked
.equ SR_READY, 0x80
.equ SR_PROGRAM_ERRORS, 0x1A
.equ SR_ERASE_ERRORS, 0x3A
.equ SR_LOCKED, 0x02

start:
        ajw     (ws - end - 8) / 4      ; the workspace moves into the image's reserved end
        ldc     0
        stl     CMD
        ldc     SIG_MAGIC
        stl     MB + MB_SIGNATURE / 4
        ldlp    MB
        ldc     2
        shr
        ldc     SIG_INFO
        xor
        ldc     SIG_SALT
        xor
        ldc     0xFFFF
        and
        ldc     16
        shl
        ldc     SIG_INFO
        or
        stl     MB + MB_SIGNATURE_INFO / 4

; The CRC-32 tables for four bytes at a time. Table 0, entry K: K's remainder after 8
; shifts; table t, entry K: (entry K of table t-1 >> 8) xor table 0's entry for its low
; byte, the remainder of K followed by t zero bytes.
        ldc     0
        stl     K
crc_table_entry:
        ldl     K
        stl     CRC
        ldc     8
        stl     T
crc_table_bit:
        ldc     0                       ; the polynomial where the low bit is set
        ldl     CRC
        ldc     1
        and
        diff
        ldc     0xEDB88320
        and
        ldl     CRC
        ldc     1
        shr
        xor
        stl     CRC
        ldl     T
        adc     -1
        stl     T
        ldl     T
        cj      crc_table_stored
        j       crc_table_bit
crc_table_stored:
        ldl     CRC
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
        cj      crc_tables_more
        j       crc_table_entry
crc_tables_more:
        ldl     K
        adc     -256
        ldlp    TABLE
        wsub
        ldnl    0
        stl     CRC
        ldl     CRC
        ldc     0xFF
        and
        ldlp    TABLE
        wsub
        ldnl    0
        ldl     CRC
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
        cj      idle
        j       crc_tables_more

; --- the idle loop and the one dispatch --------------------------------------------------
; Waits for a word with bits 0 and 1 clear that is not 0.
idle:
        ldl     CMD
        cj      idle
        ldl     CMD
        ldc     DONE_BIT + FAILURE_BIT
        and
        eqc     0
        cj      idle
        ldc     0
        stl     REASON
        ldl     CMD
        eqc     CMD_PROGRAM
        cj      dispatch_summed
        j       program
dispatch_summed:
        ldl     CMD
        eqc     CMD_PROGRAM_SUMMED
        cj      dispatch_checksum
        j       program
dispatch_checksum:
        ldl     CMD
        eqc     CMD_CHECKSUM
        cj      dispatch_blank
        j       checksum
dispatch_blank:
        ldl     CMD
        eqc     CMD_BLANK_PAGES
        cj      dispatch_erase
        j       blank_pages
dispatch_erase:
        ldl     CMD
        eqc     CMD_ERASE
        cj      dispatch_sectors
        j       erase_chip
dispatch_sectors:
        ldl     CMD
        eqc     CMD_ERASE_SECTORS
        cj      dispatch_identify
        j       erase_sectors
dispatch_identify:
        ldl     CMD
        eqc     CMD_IDENTIFY
        cj      not_a_command
        j       identify

; --- answers -----------------------------------------------------------------------------

done:
        ldl     CMD
        adc     DONE_BIT
        stl     CMD
        j       idle

not_a_command:
        ldc     REASON_NOT_A_COMMAND
        stl     REASON
        j       fail
outside_chip:
        ldc     REASON_OUTSIDE_CHIP
        stl     REASON
        j       fail
not_identified:
        ldc     REASON_NOT_IDENTIFIED
        stl     REASON
        j       fail
erase_failed:
        ldc     REASON_ERASE_FAILED
        stl     REASON
        j       fail
; a wait's result (1 failed, 4 time-out) as an erase's reason
erase_not_done:
        ldl     RES
        eqc     REASON_TIME_OUT
        cj      erase_failed
        ldc     REASON_TIME_OUT
        stl     REASON
        j       fail
; a wait's result as a program's reason, at the word at hand
program_not_done:
        ldl     RES
        eqc     REASON_TIME_OUT
        cj      program_failed
        ldc     REASON_TIME_OUT
        stl     REASON
        j       fail_at_word
program_failed:
        ldc     REASON_PROGRAM_FAILED
        stl     REASON
fail_at_word:                           ; the offset of the word at hand, 0 at an odd start
        ldl     I
        ldc     -1
        gt
        cj      fail
        ldl     I
        stl     T
        j       fail_report
fail:                                   ; REASON, offset 0
        ldc     0
        stl     T
fail_report:
        ldl     T
        ldc     FAILURE_OFFSET_SHIFT
        shl
        ldl     REASON
        ldc     FAILURE_REASON_SHIFT
        shl
        or
        adc     FAILURE_BIT
        stl     CMD
        j       idle

; --- checksum and blank pages: the window, no identity needed --------------------------

checksum:
        call    window_range
        ldl     REASON
        eqc     0
        cj      fail

; CRC-32 of [ADDR, ADDR + CNT) into BUF: a byte at a time up to a word boundary and at
; the tail, four at a time between. The bytes of CW are taken with lb from the
; workspace, low byte first.
crc:
        ldc     -1
        stl     CRC
        ldl     ADDR
        stl     CP
        ldl     CNT
        stl     CN
crc_next:
        ldl     CN
        cj      crc_end
        ldl     CP
        ldc     3
        and
        cj      crc_aligned
crc_byte:
        ldl     CP
        devlb
        ldl     CRC
        xor
        ldc     0xFF
        and
        ldlp    TABLE
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
        j       crc_next
crc_aligned:
        ldc     4                       ; fewer than four left: a byte at a time
        ldl     CN
        gt
        cj      crc_word
        j       crc_byte
crc_word:
        ldl     CP
        devlw
        ldl     CRC
        xor
        stl     CW
        ldlp    CW                      ; table 3 for the low byte
        lb
        ldlp    TABLE + 768
        wsub
        ldnl    0
        ldlp    CW                      ; table 2 for the next
        adc     1
        lb
        ldlp    TABLE + 512
        wsub
        ldnl    0
        xor
        ldlp    CW                      ; table 1
        adc     2
        lb
        ldlp    TABLE + 256
        wsub
        ldnl    0
        xor
        ldlp    CW                      ; table 0 for the high byte
        adc     3
        lb
        ldlp    TABLE
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
        j       crc_next
crc_end:
        ldl     CRC
        not
        stl     BUF
        j       done

blank_pages:
        ldc     MB_DATA_BUFFER_SIZE * 8 * BLANK_PAGE_SIZE   ; 1 <= CNT <= what the buffer maps
        ldl     CNT
        ldc     1
        diff
        gtu
        cj      not_a_command
        call    window_range
        ldl     REASON
        eqc     0
        cj      fail
        ldl     CNT                     ; the answer's words cleared first
        adc     BLANK_PAGE_SIZE * 32 - 1
        ldc     17
        shr
        stl     K
        ldlp    DATA_BUFFER
        stl     CF
blank_clear:
        ldl     K
        cj      blank_cleared
        ldc     0
        ldl     CF
        stnl    0
        ldl     CF
        ldnlp   1
        stl     CF
        ldl     K
        adc     -1
        stl     K
        j       blank_clear
blank_cleared:
        ldl     ADDR
        stl     CP
        ldl     CNT
        stl     K                       ; bytes of the range from CP
        ldc     0
        stl     BBIT
blank_page:
        ldl     K
        cj      done
        ldl     K                       ; BPN := the page's length
        stl     BPN
        ldl     K
        ldc     BLANK_PAGE_SIZE
        gt
        cj      blank_sized
        ldc     BLANK_PAGE_SIZE
        stl     BPN
blank_sized:
        ldl     K
        ldl     BPN
        diff
        stl     K
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
        cj      blank_skip
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
        j       blank_skip
blank_word_erased:
        ldl     CP
        adc     4
        stl     CP
        ldl     CN
        adc     -4
        stl     CN
        j       blank_scan
blank_found:                            ; byte BBIT / 8 |= 1 << (BBIT & 7)
        ldl     BBIT
        ldc     3
        shr
        ldlp    DATA_BUFFER
        bsub
        stl     CF
        ldc     1
        ldl     BBIT
        ldc     7
        and
        shl
        ldl     CF
        lb
        or
        ldl     CF
        sb
blank_skip:                             ; on to the next page, from wherever the scan stopped
        ldl     CP
        ldl     CN
        bsub
        stl     CP
        ldl     BBIT
        adc     1
        stl     BBIT
        j       blank_page

; --- program -----------------------------------------------------------------------------

program:
        ldc     MB_DATA_BUFFER_SIZE     ; 1 <= CNT <= the buffer
        ldl     CNT
        ldc     1
        diff
        gtu
        cj      not_a_command
        call    identify_chip
        ldl     REASON
        eqc     0
        cj      fail
        call    chip_range
        ldl     REASON
        eqc     0
        cj      fail
        ldl     ADDR                    ; I := -(ADDR & 1): words start at even addresses
        ldc     1
        and
        not
        adc     1
        stl     I
program_word:
        ldl     CNT                     ; while I < count
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
        ; the low byte: the chunk's when I >= 0, else the chip's
        ldl     CUR
        ldc     0xFF
        and
        stl     DATA
        ldl     I
        ldc     -1
        gt
        cj      program_high
        ldl     I
        ldl     BUF
        bsub
        lb
        stl     DATA
program_high:
        ; the high byte: the chunk's when I + 1 < count, else the chip's
        ldl     CUR
        ldc     0xFF00
        and
        stl     T
        ldl     CNT
        ldl     I
        adc     1
        gt
        cj      program_merge
        ldl     I
        ldl     BUF
        bsub
        adc     1
        lb
        ldc     8
        shl
        stl     T
program_merge:
        ldl     DATA
        ldl     T
        or
        stl     DATA
        ldl     DATA                    ; already there: nothing to do
        ldl     CUR
        diff
        cj      program_next
        ldl     CUR                     ; a 0 that must become 1: no program can do it
        not
        ldl     DATA
        and
        cj      program_cycles
        j       program_failed
program_cycles:
        ldl     WA
        stl     PA
        ldl     WORD_TICKS
        stl     LIMIT
        ldl     TYPE
        eqc     1
        cj      program_intel
        ldc     0xA0                    ; AMD: unlock, A0, the data; DQ7 polling at the word
        stl     V
        ldl     A1
        stl     T
        call    amd_cycles
        ldl     DATA
        ldl     WA
        devss
        call    amd_wait
        ldl     RES
        cj      program_verify
        j       program_not_done

program_intel:                          ; 40, the data; a locked block is unlocked and
        ldc     0                       ; the word tried again, once
        stl     RETRY
program_intel_again:
        ldc     0x40
        ldl     WA
        devss
        ldl     DATA
        ldl     WA
        devss
        call    intel_wait
        ldl     RES
        eqc     REASON_TIME_OUT
        eqc     0
        cj      program_not_done
        ldl     RES
        ldc     SR_PROGRAM_ERRORS
        and
        cj      program_intel_ok
        ldc     0x50                    ; clear the status register
        ldl     WA
        devss
        ldl     RES
        ldc     SR_LOCKED
        and
        eqc     SR_LOCKED
        ldl     RETRY
        eqc     0
        and
        cj      program_intel_failed
        ldc     1
        stl     RETRY
        ldc     0x60
        ldl     WA
        devss
        ldc     0xD0
        ldl     WA
        devss
        ldc     0x70                    ; a part with lock bits in its cells clears them
        ldl     WA                      ; as long as an erase takes, busy until SR.7
        devss
        ldl     BLOCK_TICKS
        stl     LIMIT
        call    intel_wait
        ldl     WORD_TICKS
        stl     LIMIT
        j       program_intel_again
program_intel_failed:
        ldc     0xFF
        ldl     WA
        devss
        j       program_not_done
program_intel_ok:
        ldc     0xFF                    ; read array again, to check the word
        ldl     WA
        devss
program_verify:
        ldl     WA
        devls
        ldl     DATA
        diff
        cj      program_next
        j       program_failed
program_next:
        ldl     I
        adc     2
        stl     I
        j       program_word
program_end:
        ldl     CMD
        eqc     CMD_PROGRAM_SUMMED
        cj      done
        j       crc

; --- erase -------------------------------------------------------------------------------

; The whole chip: AMD's chip erase, bounded by the blocks' times together; an Intel
; part block by block, as erase sectors over the whole chip.
erase_chip:
        call    identify_chip
        ldl     REASON
        eqc     0
        cj      fail
        ldl     TYPE
        eqc     1
        cj      erase_chip_intel
        ldc     0x80
        stl     V
        ldl     A1
        stl     T
        call    amd_cycles
        ldc     0x10
        stl     V
        call    amd_cycles
        ldl     BASE
        stl     PA
        ldc     -1
        stl     DATA
        ldl     BLOCK_TICKS
        ldl     NBLOCKS
        prod
        stl     LIMIT
        call    amd_wait
        ldl     RES
        cj      erase_verify
        j       erase_not_done
erase_chip_intel:
        ldl     NREG
        cj      not_identified
        ldc     0
        stl     SLO
        ldl     SIZE
        stl     SHI
        j       erase_walk_start

; Every block of the map that overlaps [ADDR, ADDR + max(CNT, 1)). The map is walked
; twice: the first walk only measures it, so that a range it does not reach is refused
; before anything is erased.
erase_sectors:
        call    identify_chip
        ldl     REASON
        eqc     0
        cj      fail
        ldl     NREG                    ; no map from the chip: no telling its blocks
        cj      not_identified
        ldl     CNT
        eqc     0
        ldl     CNT
        or
        stl     K
        ldl     CNT                     ; the range with at least one byte, and back
        stl     T
        ldl     K
        stl     CNT
        call    chip_range
        ldl     T
        stl     CNT
        ldl     REASON
        eqc     0
        cj      fail
        ldl     ADDR
        ldl     BASE
        diff
        stl     SLO
        ldl     K
        ldl     SLO
        bsub
        stl     SHI
erase_walk_start:
        ldc     0
        stl     SPASS
erase_walk:
        ldlp    REGIONS
        stl     RPTR
        ldl     NREG
        stl     CF                      ; regions left
        ldc     0
        stl     SAT
erase_walk_region:
        ldl     CF
        cj      erase_walk_end
        ldl     RPTR
        ldnl    0
        stl     K
erase_walk_block:
        ldl     K
        cj      erase_walk_region_done
        ldl     RPTR
        ldnl    1
        ldl     SAT
        bsub
        stl     SEND
        ldl     SHI                     ; it overlaps when SAT < SHI and SEND > SLO
        ldl     SAT
        gtu
        cj      erase_walk_next
        ldl     SEND
        ldl     SLO
        gtu
        cj      erase_walk_next
        ldl     SPASS
        cj      erase_walk_next
        ldl     SAT
        ldl     BASE
        bsub
        stl     PA
        ldl     BLOCK_TICKS
        stl     LIMIT
        ldl     TYPE
        eqc     1
        cj      erase_block_intel
        ldc     0x80                    ; AMD: unlock, 80, unlock, 30 at the block
        stl     V
        ldl     A1
        stl     T
        call    amd_cycles
        ldc     0x30
        stl     V
        ldl     PA
        stl     T
        call    amd_cycles
        ldc     -1
        stl     DATA
        call    amd_wait
        ldl     RES
        cj      erase_block_verify
        j       erase_not_done
erase_block_intel:                      ; unlock the block, erase it, wait for SR.7 after each
        ldc     0x60
        ldl     PA
        devss
        ldc     0xD0
        ldl     PA
        devss
        ldc     0x70
        ldl     PA
        devss
        call    intel_wait
        ldc     0x20
        ldl     PA
        devss
        ldc     0xD0
        ldl     PA
        devss
        call    intel_wait
        ldl     RES
        eqc     REASON_TIME_OUT
        eqc     0
        cj      erase_not_done
        ldl     RES
        ldc     SR_ERASE_ERRORS
        and
        cj      erase_block_intel_ok
        ldc     0x50
        ldl     PA
        devss
        ldc     0xFF
        ldl     PA
        devss
        j       erase_not_done
erase_block_intel_ok:
        ldc     0xFF
        ldl     PA
        devss
erase_block_verify:
        ldl     PA
        devls
        eqc     0xFFFF
        cj      erase_failed
erase_walk_next:
        ldl     SEND
        stl     SAT
        ldl     K
        adc     -1
        stl     K
        j       erase_walk_block
erase_walk_region_done:
        ldl     RPTR
        ldnlp   2
        stl     RPTR
        ldl     CF
        adc     -1
        stl     CF
        j       erase_walk_region
erase_walk_end:
        ldl     SPASS
        eqc     0
        cj      done
        ldl     SHI                     ; the map must reach the range's end
        ldl     SAT
        gtu
        eqc     0
        cj      outside_chip
        ldc     1
        stl     SPASS
        j       erase_walk
erase_verify:
        ldl     PA
        devls
        eqc     0xFFFF
        cj      erase_failed
        j       done

; --- identify ----------------------------------------------------------------------------

; The IDs in the command set's own ID mode, then the query bytes. Names a chip of any
; size, even one the flash base cannot hold.
identify:
        call    identify_chip
        ldl     REASON
        eqc     0
        cj      fail
        ldlp    DATA_BUFFER
        stl     CF
        ldl     TYPE
        ldl     CF
        stnl    0
        ldl     SIZE
        ldl     CF
        stnl    1
        ldl     TYPE
        eqc     1
        cj      identify_intel
        ldc     0x90
        stl     V
        ldl     A1
        stl     T
        call    amd_cycles
        j       identify_read
identify_intel:
        ldc     0x90
        ldl     BASE
        devss
identify_read:
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
        call    reset_chip
        call    query
        ldc     0x10
        stl     K
identify_byte:                          ; buffer byte K := query byte K
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
        cj      identify_done
        j       identify_byte
identify_done:
        call    reset_chip
        j       done

; --- subroutines -------------------------------------------------------------------------

; window_range: REASON 5 unless the flash base is an even address in 0x70000000..
; 0x7FFFFFFE and [ADDR, ADDR + CNT) lies in [base, 0x80000000); SIZE := that window.
; Then the chip is reset to reading its array.
window_range:
        ajw     4
        ldl     -4
        stl     RET_ID
        call    base_range
        ldl     REASON
        cj      window_range_base
        j       window_range_end
window_range_base:
        mint
        ldl     BASE
        diff
        stl     SIZE
        call    chip_range
        call    reset_chip
window_range_end:
        ldl     RET_ID
        stl     -4
        ajw     -4
        ret

; base_range: REASON 5 unless the flash base is even and in 0x70000000..0x7FFFFFFE;
; A1, A2 from it.
base_range:
        ajw     4
        ldc     0x10000000
        ldl     BASE
        ldc     0x70000000
        diff
        gtu
        ldl     BASE
        ldc     1
        and
        eqc     0
        and
        cj      base_range_outside
        ldl     BASE
        adc     U1
        stl     A1
        ldl     BASE
        adc     U2
        stl     A2
        ajw     -4
        ret
base_range_outside:
        ldc     REASON_OUTSIDE_CHIP
        stl     REASON
        ajw     -4
        ret

; chip_range: REASON 5 unless [ADDR, ADDR + CNT) lies in [BASE, BASE + SIZE): CNT <= SIZE
; and ADDR - BASE <= SIZE - CNT, unsigned (the first keeps the second from wrapping).
chip_range:
        ajw     4
        ldl     SIZE
        ldl     CNT
        diff
        stl     CW
        ldl     CNT
        ldl     SIZE
        gtu
        ldl     ADDR
        ldl     BASE
        diff
        ldl     CW
        gtu
        or
        cj      chip_range_end
        ldc     REASON_OUTSIDE_CHIP
        stl     REASON
chip_range_end:
        ajw     -4
        ret

; reset_chip: whatever mode an earlier run left the chip in, back to reading its array.
; F0 is the AMD reset, and a second F0 leaves a query entered from autoselect, which the
; first only takes back to autoselect; FF is the Intel read-array command. Each family
; ignores the other's value, as a CFI probe relies on, and F0 comes first because an AMD
; part in autoselect takes nothing but the reset and the query.
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

; query: the CFI query, 98 at word 0x55
query:
        ajw     4
        ldc     0x98
        ldl     BASE
        adc     0xAA
        devss
        ajw     -4
        ret

; query_byte: RES := the low byte of word K of the query (or whatever the chip drives)
query_byte:
        ajw     4
        ldl     K
        ldc     1
        shl
        ldl     BASE
        bsub
        devls
        ldc     0xFF
        and
        stl     RES
        ajw     -4
        ret

; amd_cycles: the unlock cycles, then V at T
amd_cycles:
        ajw     4
        ldc     0xAA
        ldl     A1
        devss
        ldc     0x55
        ldl     A2
        devss
        ldl     V
        ldl     T
        devss
        ajw     -4
        ret

; amd_wait: DQ7 data polling at PA until it reads as DATA's, for LIMIT ticks. RES 0
; done, 1 failed (DQ5, after which the chip is reset), 4 time-out. DQ7 is read once
; more after DQ5, as it may turn in the same read.
amd_wait:
        ajw     4
        ldtimer
        ldl     LIMIT
        bsub
        stl     DL
amd_wait_poll:
        ldl     PA
        devls
        ldl     DATA
        xor
        ldc     0x80
        and
        cj      amd_wait_done
        ldl     PA
        devls
        ldc     0x20
        and
        cj      amd_wait_busy
        ldl     PA
        devls
        ldl     DATA
        xor
        ldc     0x80
        and
        cj      amd_wait_done
        ldc     0xF0
        ldl     BASE
        devss
        ldc     1
        stl     RES
        ajw     -4
        ret
amd_wait_busy:
        ldc     0                       ; 0 > DL - now: the time is up
        ldl     DL
        ldtimer
        diff
        gt
        cj      amd_wait_poll
        ldc     REASON_TIME_OUT
        stl     RES
        ajw     -4
        ret
amd_wait_done:
        ldc     0
        stl     RES
        ajw     -4
        ret

; intel_wait: status polling at PA until SR.7, for LIMIT ticks: RES the status
; register, read once more when ready, or 4 (SR.7 clear) at the time-out.
intel_wait:
        ajw     4
        ldtimer
        ldl     LIMIT
        bsub
        stl     DL
intel_wait_poll:
        ldl     PA
        devls
        ldc     SR_READY
        and
        cj      intel_wait_busy
        ldl     PA
        devls
        ldc     0xFF
        and
        stl     RES
        ajw     -4
        ret
intel_wait_busy:
        ldc     0
        ldl     DL
        ldtimer
        diff
        gt
        cj      intel_wait_poll
        ldc     REASON_TIME_OUT
        stl     RES
        ajw     -4
        ret

; identify_chip: TYPE, SIZE, the map (NREG, NBLOCKS, REGIONS) and the wait limits of
; the chip at the flash base; REASON 1 when it cannot be driven, 5 when the base is no
; flash base or (but for identify) the chip would reach past 0x80000000.
identify_chip:
        ajw     4
        ldl     -4
        stl     RET_ID
        call    base_range
        ldl     REASON
        eqc     0
        cj      identify_chip_end
        call    reset_chip
        ldc     0
        stl     NREG
        ldc     9                       ; the times without CFI: 2^9 us, 2^14 ms
        stl     WORD_TICKS
        ldc     14
        stl     BLOCK_TICKS
        call    query
        ldc     0x10                    ; "QRY" at words 0x10..0x12
        stl     K
        call    query_byte
        ldl     RES
        eqc     0x51
        cj      autoselect
        ldc     0x11
        stl     K
        call    query_byte
        ldl     RES
        eqc     0x52
        cj      autoselect
        ldc     0x12
        stl     K
        call    query_byte
        ldl     RES
        eqc     0x59
        cj      autoselect

        ldc     0x13                    ; the primary command set, low byte (high: 0)
        stl     K
        call    query_byte
        ldl     RES
        stl     TYPE
        ldc     0x14
        stl     K
        call    query_byte
        ldl     RES
        cj      cfi_size
        ldc     0
        stl     TYPE
cfi_size:
        ldc     0x27                    ; size 2^n, n from 16 (64 KiB) to 28
        stl     K
        call    query_byte
        ldl     RES
        ldc     15
        gt
        ldc     29
        ldl     RES
        gt
        and
        cj      cfi_unusable
        ldc     1
        ldl     RES
        shl
        stl     SIZE
        ldc     0x1F                    ; the longest word program: 2^(typical + max) us
        stl     K
        call    query_byte
        ldl     RES
        cj      cfi_block_time
        ldl     RES
        stl     WORD_TICKS
        ldc     0x23
        stl     K
        call    query_byte
        ldl     RES
        ldl     WORD_TICKS
        bsub
        stl     WORD_TICKS
cfi_block_time:                         ; the longest block erase: 2^(typical + max) ms
        ldc     0x21
        stl     K
        call    query_byte
        ldl     RES
        cj      cfi_regions
        ldl     RES
        stl     BLOCK_TICKS
        ldc     0x25
        stl     K
        call    query_byte
        ldl     RES
        ldl     BLOCK_TICKS
        bsub
        stl     BLOCK_TICKS

; Erase block regions: their number at word 0x2C, then 4 words each (blocks - 1, size
; / 256). A map this program cannot use leaves NREG 0: an AMD part still programs and
; erases whole, but no block is erased by itself, and an Intel part, which erases block
; by block, is given up.
cfi_regions:
        ldc     0x2C
        stl     K
        call    query_byte
        ldl     RES
        stl     NREG
        ldl     NREG                    ; 1 to 4 regions
        adc     -1
        ldc     3
        gtu
        cj      cfi_map
        j       cfi_no_map
cfi_map:
        ldlp    REGIONS
        stl     RPTR
        ldc     0x2D
        stl     K
cfi_region:
        call    query_byte              ; blocks - 1
        ldl     RES
        stl     T
        ldl     K
        adc     1
        stl     K
        call    query_byte
        ldl     RES
        ldc     8
        shl
        ldl     T
        or
        adc     1
        ldl     RPTR
        stnl    0
        ldl     K                       ; block size / 256
        adc     1
        stl     K
        call    query_byte
        ldl     RES
        stl     T
        ldl     K
        adc     1
        stl     K
        call    query_byte
        ldl     RES
        ldc     8
        shl
        ldl     T
        or
        ldc     8
        shl
        ldl     RPTR
        stnl    1
        ldl     RPTR
        ldnl    1
        cj      cfi_no_map
        ldl     K
        adc     1
        stl     K
        ldl     RPTR
        ldnlp   2
        stl     RPTR
        ldlp    REGIONS                 ; until NREG regions are read
        ldl     NREG
        ldc     3
        shl
        bsub
        ldl     RPTR
        diff
        cj      cfi_counted
        j       cfi_region
cfi_no_map:
        ldc     0
        stl     NREG
cfi_counted:
        ldl     TYPE
        eqc     2
        cj      cfi_not_amd
        call    boot_order
        ldc     1
        stl     TYPE
        j       cfi_done
cfi_not_amd:                            ; Intel (1 or 3) needs its map
        ldl     TYPE
        ldc     2
        or
        eqc     3
        cj      cfi_unusable
        ldl     NREG
        cj      cfi_unusable
        ldc     2
        stl     TYPE
cfi_done:
        call    reset_chip
        j       identify_chip_fit

; The chip answered the query with values this program cannot use.
cfi_unusable:
        call    reset_chip
        j       identify_chip_unknown

; No CFI: the AMD autoselect codes of the parts known without it. (Intel parts of this
; class all answer the query, so this is no AMD sequence to one of them.)
autoselect:
        call    reset_chip
        ldc     0x90
        stl     V
        ldl     A1
        stl     T
        call    amd_cycles
        ldl     BASE
        devls
        ldc     0xFF
        and
        stl     CUR                     ; manufacturer
        ldl     BASE
        adc     2
        devls
        stl     CF                      ; device
        call    reset_chip
        ldl     CUR                     ; an Intel-family maker (0x89, 0xB0): not here
        eqc     0x89
        ldl     CUR
        eqc     0xB0
        or
        eqc     0
        cj      identify_chip_unknown
autoselect_ids:                         ; the parts known by their IDs alone, by size
        ldc     0x200000
        stl     SIZE
        ldl     CF
        eqc     0x22C4                  ; 29LV160 top boot
        ldl     CF
        eqc     0x2249                  ; 29LV160 bottom boot
        or
        eqc     0
        cj      autoselect_known
        ldc     0x100000
        stl     SIZE
        ldl     CF
        eqc     0x22DA                  ; 29LV800 top boot
        ldl     CF
        eqc     0x225B                  ; 29LV800 bottom boot
        or
        cj      identify_chip_unknown
autoselect_known:
        ldc     1
        stl     TYPE
identify_chip_fit:
        ; the limits in timer ticks of 64 us: a word's 2^n us (n at most 20), and four
        ; ticks more; a block's 2^n ms (n at most 16) at 16 ticks a ms
        ldl     WORD_TICKS
        ldc     20
        gt
        cj      identify_chip_word_ticks
        ldc     20
        stl     WORD_TICKS
identify_chip_word_ticks:
        ldc     1
        ldl     WORD_TICKS
        shl
        ldc     6
        shr
        adc     4
        stl     WORD_TICKS
        ldl     BLOCK_TICKS
        ldc     16
        gt
        cj      identify_chip_block_ticks
        ldc     16
        stl     BLOCK_TICKS
identify_chip_block_ticks:
        ldc     16
        ldl     BLOCK_TICKS
        shl
        stl     BLOCK_TICKS
        ldl     SIZE                    ; blocks in the map; without one, at most a 16 KB
        ldc     14                      ; block each
        shr
        stl     NBLOCKS
        ldl     NREG
        cj      identify_chip_bounded
        ldc     0
        stl     NBLOCKS
        ldlp    REGIONS
        stl     RPTR
        ldl     NREG
        stl     K
identify_chip_blocks:
        ldl     RPTR
        ldnl    0
        ldl     NBLOCKS
        bsub
        stl     NBLOCKS
        ldl     RPTR
        ldnlp   2
        stl     RPTR
        ldl     K
        adc     -1
        stl     K
        ldl     K
        cj      identify_chip_bounded
        j       identify_chip_blocks
identify_chip_bounded:
        ; but for identify, the chip must end at or below 0x80000000: SIZE <= 0x80000000 - BASE
        ldl     CMD
        eqc     CMD_IDENTIFY
        eqc     0
        cj      identify_chip_end
        ldl     SIZE
        mint
        ldl     BASE
        diff
        gtu
        cj      identify_chip_end
        ldc     REASON_OUTSIDE_CHIP
        stl     REASON
        j       identify_chip_end
identify_chip_unknown:
        ldc     REASON_NOT_IDENTIFIED
        stl     REASON
identify_chip_end:
        ldl     RET_ID
        stl     -4
        ajw     -4
        ret

; boot_order: many top-boot AMD-class parts list their regions bottom-first, one table
; printed for both boot ends. From version 1.1 of the primary extended table its byte
; 0xF names the boot end (2 bottom, 3 top); before that the device ID does, as Linux's
; AMD driver reads it: bit 7 set is top boot, but for Macronix's bottom-boot 29LV400
; (0x22BA). A top-boot map that starts with blocks smaller than it ends with is turned
; round; one already in address order stays. Called in query mode; leaves the chip in
; it or reading its array.
boot_order:
        ajw     4
        ldl     NREG                    ; two regions or more, the last one's blocks
        ldc     1                       ; larger than the first's
        gt
        ldl     NREG
        ldc     1
        shl
        adc     -1
        ldlp    REGIONS
        wsub
        ldnl    0
        ldlp    REGIONS
        ldnl    1
        gtu
        and
        cj      boot_order_end
        ldl     BASE                    ; CF := the extended table (words 0x15, 0x16)
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
        ldl     CF                      ; T := the version, the major digit high
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
        ldl     T
        ldc     0xFF
        and
        eqc     0xBA
        and
        eqc     0
        ldl     T
        ldc     0x80
        and
        eqc     0x80
        and
        cj      boot_order_end
        j       boot_reverse
boot_by_flag:
        ldl     CF
        adc     0x1E
        devls
        ldc     0xFF
        and
        eqc     3
        cj      boot_order_end
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
        cj      boot_order_end
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
boot_order_end:
        ajw     -4
        ret

; --- the workspace: the frame a call stores below it, the locals; the mailbox follows --
        .align  4
        .space  16
ws:
        .space  LOCALS * 4
end:
