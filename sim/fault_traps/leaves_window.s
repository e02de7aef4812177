; SPDX-License-Identifier: GPL-2.0-or-later
; A trap that runs off to a loop outside the window where a trap's idle loop belongs
; (0x80000101..0x800002FF when loaded at 0x80000140), as a program gone astray would.
        j far
        .space 0x200
far:    j far
