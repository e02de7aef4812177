// SPDX-License-Identifier: GPL-2.0-or-later
#include "dcu.h"

#include <avr/wdt.h>

#include "jtag.h"

#define START_PATTERN 3u  // 0,1,1: the DCU begins a byte
#define ACK_PATTERN 2u    // 0,1,0: it took one (or is busy)
#define RECEIVE_ACK_BIT 4

int32_t dcu_start_wait_limit = DCU_START_WAIT_LIMIT;

// Every 0,1,0 restarts the budget, the clock that completed it counting as the first of
// the new one; an overall cap keeps a babbling line from holding the probe for ever.
uint8_t dcu_wait_start(int32_t limit) {
    const uint8_t quiet = jtag_rest;
    uint8_t window = 0;
    int32_t n = 0;
    uint32_t total = 0;
    while (n < limit && total < DCU_START_WAIT_CAP) {
        const uint8_t tdo = jtag_clock(quiet, 1);
        window = (uint8_t)(((window << 1) | tdo) & 7u);
        if (window == ACK_PATTERN) n = 0;
        ++n;
        ++total;
        if (window == START_PATTERN) return 1;
        if ((uint8_t)total == 0) wdt_reset();
    }
    return 0;
}

static uint8_t wait_ack(uint8_t limit) {
    const uint8_t quiet = jtag_rest;
    uint8_t window = 0;
    for (uint8_t n = 0; n < limit && window != ACK_PATTERN; ++n) {
        window = (uint8_t)(((window << 1) | jtag_clock(quiet, 1)) & 7u);
    }
    return window == ACK_PATTERN;
}

uint8_t dcu_receive(uint8_t* out) {
    if (!dcu_wait_start(dcu_start_wait_limit)) {
        *out = 0;
        return 0;
    }
    const uint8_t quiet = jtag_rest;
    uint8_t byte = 0;
    for (uint8_t i = 0; i < 8; ++i) {
        // TDI 1 on the fifth data clock acknowledges the byte to the DCU.
        const uint8_t tdo = jtag_clock(i == RECEIVE_ACK_BIT ? (uint8_t)(quiet | PIN_TDI) : quiet, 1);
        byte |= (uint8_t)(tdo << i);
    }
    *out = byte;
    return 1;
}

uint8_t dcu_send(uint8_t value) {
    const uint8_t quiet = jtag_rest;
    jtag_clock(quiet, 0);
    jtag_clock(quiet | PIN_TDI, 0);
    jtag_clock(quiet | PIN_TDI, 0);
    // A sample of 1 after one of 0 acknowledges; the one before the first data clock
    // counts as 0.
    uint8_t previous = 0;
    uint8_t acknowledged = 0;
    for (uint8_t i = 0; i < 8; ++i) {
        const uint8_t tdo = jtag_clock((value & 1u) ? (uint8_t)(quiet | PIN_TDI) : quiet, 1);
        value >>= 1;
        if (tdo && !previous) acknowledged = 1;
        previous = tdo;
    }
    if (!acknowledged) acknowledged = wait_ack(DCU_ACK_WAIT_LIMIT);
    jtag_clock(quiet, 0);
    return acknowledged;
}

// Throws away whatever the DCU still has to send: false when it kept sending past the
// limit (one more receive is tried after the limit-th byte).
uint8_t dcu_drain(uint16_t limit) {
    uint8_t discarded;
    uint16_t count = 0;
    while (dcu_receive(&discarded) && count < limit) ++count;
    return count < limit;
}

static uint8_t send_word(uint32_t value) {
    uint8_t all = 1;
    for (uint8_t i = 0; i < 4; ++i) {
        all = (uint8_t)(dcu_send((uint8_t)value) & all);
        value >>= 8;
    }
    return all;
}

// The raw 0,1,0 on TDI that opens every write message.
static void write_preamble(void) {
    jtag_clock(jtag_rest, 0);
    jtag_clock(jtag_rest | PIN_TDI, 0);
    jtag_clock(jtag_rest, 0);
}

uint16_t dcu_read_block(uint32_t address, dcu_read_started started, dcu_byte_out out, uint16_t* received) {
    *received = 0;
    if (!dcu_drain(DCU_READ_DRAIN_LIMIT)) return 0;
    const uint8_t command_ok = dcu_send(0x01);
    const uint8_t address_ok = send_word(address);
    uint8_t length_byte = 0;
    const uint8_t length_ok = dcu_receive(&length_byte);
    const uint8_t request_ok = command_ok && address_ok && length_ok;
    uint16_t n = length_byte & 0xFCu;
    if (n == 0) n = 256;
    started(request_ok, length_byte, n);
    uint16_t count = 0;
    while (count < n) {
        uint8_t byte;
        // A failed request still costs one receive attempt before it is given up.
        if (!dcu_receive(&byte) || !request_ok) break;
        out(byte);
        ++count;
    }
    *received = count;
    return count == n && request_ok ? n : 0;
}

uint8_t dcu_write_block(uint32_t address, dcu_byte_in in, uint8_t length) {
    if (!dcu_drain(DCU_WRITE_DRAIN_LIMIT)) return 0;
    write_preamble();
    const uint8_t command_ok = dcu_send(length & 0xFCu);
    const uint8_t address_ok = send_word(address);
    uint8_t data_ok = 1;
    for (uint8_t j = 0; j < length && data_ok && command_ok && address_ok; ++j) data_ok = dcu_send(in());
    return data_ok && command_ok && address_ok ? length : 0;
}

uint8_t dcu_write_word(uint32_t address, uint32_t value) {
    if (!dcu_drain(DCU_WRITE_DRAIN_LIMIT)) return 0;
    write_preamble();
    // All nine bytes go out whatever the acknowledges say.
    const uint8_t command_ok = dcu_send(0x04);
    const uint8_t address_ok = send_word(address);
    const uint8_t value_ok = send_word(value);
    return command_ok && address_ok && value_ok;
}
