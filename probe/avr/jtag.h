// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <stdint.h>

#include "pins.h"

// The lines' resting bits: TDO's pull-up, the reset line's level and the LED. Every
// write to the port carries them.
extern uint8_t jtag_rest;
// Rounds of a 3-cycle spin between the writes of a clock; 0 drives the pins as fast as
// the port allows (a clock of 3 cycles, 62.5 ns high).
extern uint8_t jtag_delay;

void jtag_init(void);
void jtag_set_reset(uint8_t high);
// A clock with TMS and TDI as in `lines` (PIN_TMS | PIN_TDI); TDO is read before the
// rising edge when sample is set. Returns TDO (0 or 1), 0 when not sampled.
uint8_t jtag_step(uint8_t lines, uint8_t sample);
void delay_ms(uint16_t ms);
// Whether the TAP rests in Shift-DR with the DCU's instruction loaded, as the host's
// message says; selecting when it is not takes the 19 clocks of the host's engine.
extern uint8_t jtag_selected;
void jtag_select_dcu(void);

static inline void jtag_spin(uint8_t rounds) {
    if (rounds) __asm__ __volatile__("1: dec %0\n\tbrne 1b"
                                     : "+r"(rounds));
}

// One clock, its writes in the parallel cable's order; the sample is taken while TCK is
// still low from the clock before.
static inline uint8_t jtag_clock(uint8_t value, uint8_t sample) {
    uint8_t tdo = 0;
    if (sample) tdo = (PINB & PIN_TDO) ? 1 : 0;
    PORTB = value;
    jtag_spin(jtag_delay);
    PORTB = value | PIN_TCK;
    jtag_spin(jtag_delay);
    PORTB = value;
    return tdo;
}
