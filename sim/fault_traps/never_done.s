; SPDX-License-Identifier: GPL-2.0-or-later
; A trap that takes every command and finishes none: the host's wait runs out.
; Like a real trap it clears the command word first, then idles inside its own image.
.include "../../trap/mailbox.inc"
        ldc 0
        stl MB_COMMAND / 4
idle:   j idle
