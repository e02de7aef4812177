// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <avr/io.h>

// The JTAG lines on port B, in the parallel cable's own bit order so that one `out`
// sets TMS, TDI and the reset line together and a clock is three writes, as on the
// port: value, TCK high, TCK low.
//   PB0  Arduino D8   TMS    out
//   PB1  Arduino D9   TCK    out
//   PB2  Arduino D10  TDI    out
//   PB3  Arduino D11  reset  out (high releases the receiver's TAP)
//   PB4  Arduino D12  TDO    in, pulled up: a cable with nothing on it reads 1
//   PB5  Arduino D13  the board's LED: lit while a request is served
#define PIN_TMS _BV(PB0)
#define PIN_TCK _BV(PB1)
#define PIN_TDI _BV(PB2)
#define PIN_RESET _BV(PB3)
#define PIN_TDO _BV(PB4)
#define PIN_LED _BV(PB5)
#define PINS_OUT (PIN_TMS | PIN_TCK | PIN_TDI | PIN_RESET | PIN_LED)
