// SPDX-License-Identifier: GPL-2.0-or-later
#include "cables/cable.h"

#include "port/ftdi_api.h"
#include "port/gpiod_api.h"
#include "port/ppdev_api.h"

namespace orbvex::cables {

DeviceApis SystemDeviceApis() { return {&SystemPpdevApi(), &SystemGpiodApi(), &SystemFtdiApi()}; }

// The table, one line per cable, in the order a refusal names two of them; each entry is
// defined in a file of its own.
#define ORBVEX_CABLE_TABLE(CABLE) \
    CABLE(kVirtualCable)          \
    CABLE(kParallelPortCable)     \
    CABLE(kGpioCable)             \
    CABLE(kRemoteCable)           \
    CABLE(kFtdiCable)             \
    CABLE(kProbeCable)            \
    /* a new cable: one line above this one */

#define ORBVEX_DECLARE_CABLE(name) extern const CableType name;
#define ORBVEX_LIST_CABLE(name) &name,
ORBVEX_CABLE_TABLE(ORBVEX_DECLARE_CABLE)

const std::vector<const CableType*>& CableTypes() {
    static const std::vector<const CableType*> table = {ORBVEX_CABLE_TABLE(ORBVEX_LIST_CABLE)};
    return table;
}

}  // namespace orbvex::cables
