// SPDX-License-Identifier: GPL-2.0-or-later
// The probe on an ATmega328P board (Arduino Uno or Nano, 16 MHz): the probe protocol
// on the serial line, the JTAG pins on port B (see pins.h).
#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/wdt.h>

#include "jtag.h"
#include "serve.h"
#include "uart.h"

// After a watchdog reset the watchdog stays on with its shortest period: it is turned
// off before anything else runs, or the probe would reset again while starting.
uint8_t reset_cause __attribute__((section(".noinit")));
void early_watchdog_off(void) __attribute__((naked, used, section(".init3")));
void early_watchdog_off(void) {
    reset_cause = MCUSR;
    MCUSR = 0;
    wdt_disable();
}

int main(void) {
    jtag_init();
    uart_init();
    serve_init();
    sei();
    for (;;) serve_one();
}
