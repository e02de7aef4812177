// SPDX-License-Identifier: GPL-2.0-or-later
#include "dcu.h"

#include <avr/wdt.h>

#include "jtag.h"

#define START_PATTERN 3u  // 0,1,1: the DCU begins a byte
#define ACK_PATTERN 2u    // 0,1,0: it took one (or is busy)

int32_t dcu_start_wait_limit = DCU_START_WAIT_LIMIT;

// The pins as fast as the port goes: a clock of three writes.
#define NAME(x) x##_fast
#define CLOCK_SPIN()
#define SLOW_WATCHDOG(left)  // a whole budget of 32767 clocks takes 25 ms here
#include "dcu_body.inc"
#undef NAME
#undef CLOCK_SPIN
#undef SLOW_WATCHDOG

// A slower TCK, chosen by the host.
#define NAME(x) x##_slow
#define CLOCK_SPIN() jtag_spin(jtag_delay)
// At the slowest clock a budget of 32767 clocks takes seconds: the watchdog is fed.
#define SLOW_WATCHDOG(left) \
    if ((uint8_t)(left) == 0) wdt_reset()
#include "dcu_body.inc"
#undef NAME
#undef CLOCK_SPIN
#undef SLOW_WATCHDOG

uint16_t dcu_read_block(uint32_t address, dcu_read_started started, dcu_byte_out out, uint16_t* received) {
    return jtag_delay ? read_block_slow(address, started, out, received) : read_block_fast(address, started, out, received);
}

uint8_t dcu_write_block(uint32_t address, const uint8_t* data, uint8_t length) {
    return jtag_delay ? write_block_slow(address, data, length) : write_block_fast(address, data, length);
}

uint8_t dcu_write_word(uint32_t address, uint32_t value) {
    return jtag_delay ? write_word_slow(address, value) : write_word_fast(address, value);
}
