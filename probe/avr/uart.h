// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <stdint.h>

// The serial line to the host: 8N1 at 1,000,000 baud after reset (U2X, UBRR 1: exact at
// 16 MHz), or at a rate the host chooses. Both directions go through interrupt-driven
// rings, so that bytes move while the pins are clocked.
#define UART_RX_SIZE 1024u  // powers of two
#define UART_TX_SIZE 256u

void uart_init(void);
uint32_t uart_baud(void);
// Moves on to the next of the three rates: what a probe does that hears a host at
// another one.
void uart_next_baud(void);
// Bytes received and not yet taken.
uint16_t uart_rx_count(void);
// A byte not yet taken, by its distance from the oldest; the caller knows it is there.
uint8_t uart_peek(uint16_t offset);
// Takes the oldest byte (there must be one).
uint8_t uart_take(void);
void uart_skip(uint16_t count);
// Whether a byte arrived broken (a framing error: the host speaks at another rate)
// since the last call.
uint8_t uart_broken(void);
// Sleeps until something happens on the line (or anywhere else).
void uart_sleep(void);
// Queues a byte; waits while the ring is full.
void uart_put(uint8_t byte);
// Waits until everything queued has left the shift register.
void uart_drain(void);
