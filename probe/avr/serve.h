// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <stdint.h>

#include "probe/wire_numbers.h"

// The probe protocol's frames on the serial line: one request taken, checked, run and
// answered per call.
void serve_init(void);
void serve_one(void);
