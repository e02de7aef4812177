// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <stdint.h>

// The DCU's framed bytes and its four messages, driven here next to the pins with the
// very clocks the host's sequential engine drives: the same waits, budgets, drains and
// restarts. Each message assumes the TAP parked in Shift-DR with the DCU selected.

#define DCU_START_WAIT_LIMIT 2024
#define DCU_START_WAIT_CAP 1000000UL
#define DCU_ACK_WAIT_LIMIT 64
#define DCU_READ_DRAIN_LIMIT 1024
#define DCU_WRITE_DRAIN_LIMIT 1023

extern int32_t dcu_start_wait_limit;

// Where a block read puts the bytes it receives, one at a time, so that they can go to
// the serial line while the next ones arrive; it is told first, once the length byte
// is in, whether the request went through and how many bytes the DCU announced.
typedef void (*dcu_byte_out)(uint8_t byte);
typedef void (*dcu_read_started)(uint8_t request_ok, uint8_t length_byte, uint16_t n);

// Returns the count the reply announced (4 to 256) when the whole block came, else 0;
// *received tells how many data bytes went to `out` either way.
uint16_t dcu_read_block(uint32_t address, dcu_read_started started, dcu_byte_out out, uint16_t* received);
// Returns length when every byte was acknowledged, else 0.
uint8_t dcu_write_block(uint32_t address, const uint8_t* data, uint8_t length);
uint8_t dcu_write_word(uint32_t address, uint32_t value);
