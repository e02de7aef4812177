#include "cables/cable.h"

#include "port/ftdi_api.h"
#include "port/gpiod_api.h"
#include "port/ppdev_api.h"

namespace orbvex::cables {

DeviceApis SystemDeviceApis() { return {&SystemPpdevApi(), &SystemGpiodApi(), &SystemFtdiApi()}; }

// Each defined in its own file.
extern const CableType kVirtualCable;
extern const CableType kParallelPortCable;
extern const CableType kGpioCable;
extern const CableType kRemoteCable;
extern const CableType kFtdiCable;

const std::vector<const CableType*>& CableTypes() {
    static const std::vector<const CableType*> table = {
        &kVirtualCable,
        &kParallelPortCable,
        &kGpioCable,
        &kRemoteCable,
        &kFtdiCable,
    };
    return table;
}

}  // namespace orbvex::cables
