// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/lpt.h"
#include "port/port_access.h"
#include "port/windows/inpout32.h"

namespace orbvex {

// On the NT family the port-permission driver grants the ranges, and where it cannot
// (64-bit Windows) InpOut32 reaches the ports; on 95/98/ME the port instructions need
// no preparation.
std::unique_ptr<PortAccess> MakeHardwarePortAccess() {
    return MakeNtPortAccess(SystemNtApi(), IOPMDriver, [] { return LoadInpOut32(InpOut32Places()); });
}

}  // namespace orbvex
