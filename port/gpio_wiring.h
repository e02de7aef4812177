// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <optional>
#include <string>

#include "util/result.h"

namespace orbvex {

// Which GPIO lines of which chip carry the JTAG signals, as the user writes it:
// CHIP:tck=N,tms=N,tdi=N,tdo=N[,rst=N], for example gpiochip0:tck=11,tms=25,tdi=10,tdo=9.
// The chip is whatever libgpiod can look up: a name, a number, a /dev path or a label.
struct GpioWiring {
    std::string chip;
    unsigned tck = 0, tms = 0, tdi = 0, tdo = 0;
    std::optional<unsigned> rst;  // the reset line is optional
};

// The spec, or what is wrong with it (a missing line, a line used twice, an unknown
// key, a bad number).
Result<GpioWiring> ParseGpioWiring(const std::string& text);

}  // namespace orbvex
