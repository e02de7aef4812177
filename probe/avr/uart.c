// SPDX-License-Identifier: GPL-2.0-or-later
#include "uart.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>
#include <util/atomic.h>

#define RX_MASK (UART_RX_SIZE - 1u)
#define TX_MASK (UART_TX_SIZE - 1u)

static uint8_t rx_ring[UART_RX_SIZE];
static uint8_t tx_ring[UART_TX_SIZE];
static volatile uint16_t rx_head;  // written by the interrupt
static uint16_t rx_tail;
static volatile uint8_t rx_broken;
static volatile uint8_t tx_head, tx_tail;  // tail moved by the interrupt
static volatile uint8_t tx_busy;           // a byte went out since the line was last idle
static uint8_t rate;                       // index into the rates below

static const uint32_t kRates[3] = {1000000UL, 500000UL, 115200UL};
// With U2X: 16 MHz / 8 / (UBRR + 1). 115200 comes out at 117647, 2.1 % fast, inside
// what a UART takes.
static const uint8_t kDividers[3] = {1, 3, 16};

// A byte that finds the ring full is lost: the host never sends more than the buffer
// the probe announced, and a request that lost one fails its check.
ISR(USART_RX_vect) {
    const uint8_t status = UCSR0A;
    const uint8_t byte = UDR0;
    if (status & _BV(FE0)) rx_broken = 1;
    const uint16_t head = rx_head;
    const uint16_t next = (uint16_t)((head + 1u) & RX_MASK);
    if (next != rx_tail) {
        rx_ring[head] = byte;
        rx_head = next;
    }
}

ISR(USART_UDRE_vect) {
    const uint8_t tail = tx_tail;
    if (tail == tx_head) {
        UCSR0B &= (uint8_t)~_BV(UDRIE0);
        return;
    }
    // TXC is cleared by writing a 1, so that it tells when this byte has gone.
    UCSR0A = _BV(U2X0) | _BV(TXC0);
    UDR0 = tx_ring[tail];
    tx_busy = 1;
    tx_tail = (uint8_t)((tail + 1u) & TX_MASK);
}

static void set_rate(uint8_t index) {
    uart_drain();
    rate = index;
    UCSR0B = 0;
    UCSR0A = _BV(U2X0);
    UBRR0 = kDividers[index];
    UCSR0C = _BV(UCSZ01) | _BV(UCSZ00);
    UCSR0B = _BV(RXEN0) | _BV(TXEN0) | _BV(RXCIE0);
}

void uart_init(void) { set_rate(0); }

uint32_t uart_baud(void) { return kRates[rate]; }

void uart_next_baud(void) {
    set_rate((uint8_t)((rate + 1u) % 3u));
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE) {
        rx_tail = rx_head;
        rx_broken = 0;
    }
}

uint16_t uart_rx_count(void) {
    uint16_t head;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE) { head = rx_head; }
    return (uint16_t)((head - rx_tail) & RX_MASK);
}

uint8_t uart_peek(uint16_t offset) { return rx_ring[(rx_tail + offset) & RX_MASK]; }

uint8_t uart_take(void) {
    const uint8_t byte = rx_ring[rx_tail];
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE) { rx_tail = (uint16_t)((rx_tail + 1u) & RX_MASK); }
    return byte;
}

void uart_skip(uint16_t count) {
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE) { rx_tail = (uint16_t)((rx_tail + count) & RX_MASK); }
}

uint8_t uart_broken(void) {
    uint8_t broken;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE) {
        broken = rx_broken;
        rx_broken = 0;
    }
    return broken;
}

void uart_sleep(void) {
    cli();
    if (rx_head == rx_tail) {
        // The instruction after sei runs before any interrupt, so no byte can slip in
        // between the test and the sleep.
        sleep_enable();
        sei();
        sleep_cpu();
        sleep_disable();
    }
    sei();
}

void uart_put(uint8_t byte) {
    // With nothing queued and the transmitter free the byte goes straight out: no
    // interrupt to pay while the line keeps up with the pins.
    if (tx_head == tx_tail && (UCSR0A & _BV(UDRE0))) {
        UCSR0A = _BV(U2X0) | _BV(TXC0);
        UDR0 = byte;
        tx_busy = 1;
        return;
    }
    const uint8_t next = (uint8_t)((tx_head + 1u) & TX_MASK);
    while (next == tx_tail) {
    }
    tx_ring[tx_head] = byte;
    tx_head = next;
    UCSR0B |= _BV(UDRIE0);
}

void uart_drain(void) {
    while (tx_head != tx_tail) {
    }
    if (!tx_busy) return;
    while (!(UCSR0A & _BV(TXC0))) {
    }
    tx_busy = 0;
}
