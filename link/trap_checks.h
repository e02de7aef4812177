// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The trap program's commands now live together in link/trap_protocol.h.
#include "link/trap_protocol.h"
