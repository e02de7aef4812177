#include "port/nt_api.h"

#if !defined(_WIN32)
#include "port/nt_standin.h"

namespace orbvex {

// Systems without the Windows calls get an NT machine in memory, so that the driver
// object and the NT path exist and run everywhere.
NtApi& SystemNtApi() {
    static NtStandIn standIn;
    return standIn;
}

}  // namespace orbvex
#endif
