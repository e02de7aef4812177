#include "port/lpt.h"
#include "port/port_access.h"

namespace orbvex {

// On the NT family the port-permission driver grants the ranges; on 95/98/ME the port
// instructions need no preparation.
std::unique_ptr<PortAccess> MakeHardwarePortAccess() {
    return MakeNtPortAccess(SystemNtApi(), IOPMDriver);
}

}  // namespace orbvex
