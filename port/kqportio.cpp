// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/kqportio.h"

std::uint16_t LptBase = 0x378;
bool PortAvailable = false;

namespace orbvex {
PortBackend* PortHook = nullptr;
}
