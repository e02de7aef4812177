// SPDX-License-Identifier: GPL-2.0-or-later
#include "jtag.h"

#include <avr/wdt.h>
#include <util/delay.h>

uint8_t jtag_rest = PIN_TDO;
uint8_t jtag_delay = 0;
uint8_t jtag_selected = 0;

// At power-up the reset line is held low, as the parallel cable leaves it, and TCK rests low.
void jtag_init(void) {
    PORTB = jtag_rest;
    DDRB = PINS_OUT;
}

void jtag_set_reset(uint8_t high) {
    if (high) {
        jtag_rest |= PIN_RESET;
    } else {
        jtag_rest &= (uint8_t)~PIN_RESET;
    }
    // One clock that carries the new level, as the host's engine gives it.
    jtag_clock(jtag_rest, 0);
    jtag_selected = 0;
}

uint8_t jtag_step(uint8_t lines, uint8_t sample) { return jtag_clock(jtag_rest | lines, sample); }

void delay_ms(uint16_t ms) {
    while (ms--) {
        wdt_reset();
        _delay_ms(1);
    }
}

static void tms(uint8_t high) { jtag_step(high ? PIN_TMS : 0, 0); }

// Five clocks with TMS 1 reach Test-Logic-Reset from anywhere, the sixth parks in
// Run-Test/Idle; then instruction 0x10 (bits 0,0,0,0,1, the last with TMS 1) and on
// to Shift-DR: 19 clocks.
void jtag_select_dcu(void) {
    if (jtag_selected) return;
    for (uint8_t i = 0; i < 5; ++i) tms(1);
    tms(0);
    tms(1);
    tms(1);
    tms(0);
    tms(0);
    for (uint8_t i = 0; i < 5; ++i) {
        const uint8_t last = i == 4;
        jtag_step((uint8_t)((last ? PIN_TMS | PIN_TDI : 0)), 1);
    }
    tms(1);
    tms(1);
    tms(0);
    tms(0);
    jtag_selected = 1;
}
