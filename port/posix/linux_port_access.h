// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "port/port_access.h"
#include "port/ppdev_api.h"

namespace orbvex {

// ioperm(from, count, on) as the kernel answers it: 0, or minus the errno value.
using IopermCall = std::function<int(unsigned long from, unsigned long count, bool on)>;
// The kernel's ioperm where the processor has port instructions (x86); -ENOSYS elsewhere.
int SystemIoperm(unsigned long from, unsigned long count, bool on);

// The ppdev device of a standard port: /dev/parport0 for LPT1 (0x378), /dev/parport1 for
// LPT2 (0x278); empty for any other base.
std::string PpdevDeviceFor(std::uint16_t lptBase);

// Port access on Linux. A port is driven with the processor's port instructions when
// ioperm grants its ranges (root or cap_sys_rawio, and no kernel lockdown). When it
// does not, LPT1 and LPT2 fall back to their ppdev devices (group lp is enough), claimed
// here and installed as the port backend while their port is the one driven; a port
// on the instructions gets back whatever backend the link had when Open ran (none, for
// the real port). The failure reason says what both routes answered and what to do.
std::unique_ptr<PortAccess> MakeLinuxPortAccess(IopermCall ioperm, PpdevApi& ppdev);

}  // namespace orbvex
