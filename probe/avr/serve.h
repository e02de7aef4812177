// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <stdint.h>

// The probe protocol's frames on the serial line: one request taken, checked, run and
// answered per call.
#define PROBE_VERSION 1
#define PROBE_NAME "orbvex_probe_atmega328p 1"

void serve_init(void);
void serve_one(void);
